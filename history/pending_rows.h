#pragma once

#include "history_record.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mirv {

// Rows that could not go into Historydata yet, kept beside the database in a CSV file that
// survives a restart and a power cut: a header line, then one line per row with the columns'
// texts in table order and a closing field "1". Rows are appended and synced pass by pass; a
// line cut short by a crash lacks its closing field and is skipped when the file is read back.
class PendingRowsFile {
  public:
    explicit PendingRowsFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    bool exists() const;

    // Appends the rows and syncs them to disk. On failure the file is cut back to what it held
    // before, and the system's reason is returned.
    std::optional<std::string> append(const std::vector<HistoryRecord>& rows);

    // Calls `row` for every complete row, oldest first, until it returns false. A missing
    // file holds no rows. The system's reason when the file could not be read.
    std::optional<std::string> read(const std::function<bool(const HistoryRecord&)>& row) const;

    // Removes the file and syncs its folder; false when it is still there.
    bool remove();

    // Called between an append's write and its sync, for tests that end the program there.
    std::function<void()> afterAppend;

  private:
    std::string path_;
};

// The pending rows file of the database at `databasePath`.
std::string pendingRowsPath(const std::string& databasePath);

} // namespace mirv
