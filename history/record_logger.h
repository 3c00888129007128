#pragma once

#include "history_record.h"
#include "readings_board.h"

#include <functional>
#include <string>

namespace mirv {

class HistoryWriter;

// One record pass: the board row of every meter that answered its last poll, in meter order,
// each stamped with the local time, handed to the writer. Runs on the event thread and never
// waits for the database.
class RecordLogger {
  public:
    RecordLogger(const ReadingsBoard& board, HistoryWriter& writer);

    void recordAll();

    // The time stamp of a row; local time now unless a test sets another clock.
    std::function<std::string()> now;
    // The MeterID a board row's record is logged under: the meter's address, which is the row's
    // number unless the Meters table says otherwise.
    std::function<int(int)> meterOfRow = [](int row) { return row; };

  private:
    const ReadingsBoard& board_;
    HistoryWriter& writer_;
};

} // namespace mirv
