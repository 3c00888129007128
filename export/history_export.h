#pragma once

#include "history_query.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace mirv {

class Database;

// Where exported history rows go: a header of the 13 captions, then the rows in order.
class HistorySheet {
  public:
    virtual ~HistorySheet() = default;
    // Each returns false once the output failed; finish() tells why.
    virtual bool writeHeader() = 0;
    virtual bool writeRow(const HistoryRowView& row) = 0;
    // Completes the output; the failure's description if any write failed.
    virtual std::optional<std::string> finish() = 0;
};

struct ExportResult {
    std::int64_t rows = 0;
    bool readFailed = false;                // the selection failed: the Database has the error
    std::optional<std::string> writeFailed; // the output failed: why
    bool stopped = false;                   // `progress` asked to stop
};

// Writes the selection's rows, streamed as the query tab selects them, into `sheet`.
// `progress` hears the rows written so far every few thousand rows and returns false to stop.
ExportResult exportHistory(Database& db, const HistorySelection& selection, HistorySheet& sheet,
                           const std::function<bool(std::int64_t rows)>& progress = {});

} // namespace mirv
