#pragma once

#include "history_record.h"
#include "readings_board.h"

#include <chrono>
#include <functional>
#include <string>

namespace mirv {

// Appends the board row of every meter that answered its last poll to Historydata, one row
// and one connection per meter, in meter order. Runs on the event thread, so a whole pass
// waits at most `passBudget` for a database another writer holds.
class RecordLogger {
  public:
    RecordLogger(std::string databasePath, const ReadingsBoard& board);

    // One pass: recordMeter(1) .. recordMeter(20).
    void recordAll();
    void recordMeter(int n);

    // The last row written.
    HistoryRecord staged;

    std::chrono::milliseconds passBudget{2000};
    // The time stamp of a row; local time now unless a test sets another clock.
    std::function<std::string()> now;

  private:
    void appendStagedRow();

    std::string databasePath_;
    const ReadingsBoard& board_;
    std::chrono::steady_clock::time_point passEnd_{};
};

} // namespace mirv
