#pragma once

#include "history_record.h"
#include "synced_lines_file.h"

#include <string>
#include <vector>

namespace mirv {

// Rows that could not go into Historydata yet, kept beside the database in a synced CSV file
// (see SyncedLinesFile): the columns' texts in table order. The only reader of its format.
class PendingRowsFile : public SyncedLinesFile {
  public:
    explicit PendingRowsFile(std::string path);

    std::optional<std::string> append(const std::vector<HistoryRecord>& rows);
    // Calls `row` for every complete row, oldest first, until it returns false.
    ReadResult read(const std::function<bool(const HistoryRecord&)>& row) const;
};

// The pending rows file of the database at `databasePath`.
std::string pendingRowsPath(const std::string& databasePath);

} // namespace mirv
