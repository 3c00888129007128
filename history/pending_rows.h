#pragma once

#include "history_record.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace mirv {

// Rows that could not go into Historydata yet, kept beside the database in a CSV file that
// survives a restart and a power cut: a header line, then one line per row with the columns'
// texts in table order and a closing field "1". A row never spans lines: a field with a comma
// or a quote is quoted (its quotes doubled), a line end in a text is written as a space. Rows
// are appended and synced pass by pass; a line a crash cut short, even inside a quoted field,
// is that line alone: it is skipped and counted when the file is read back, and the next
// append starts on a fresh line.
class PendingRowsFile {
  public:
    explicit PendingRowsFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    bool exists() const;

    // Appends the rows and syncs them to disk. On failure the file is cut back to what it held
    // before, and the system's reason is returned.
    std::optional<std::string> append(const std::vector<HistoryRecord>& rows);

    struct ReadResult {
        std::optional<std::string> failure; // the system's reason when it could not be read
        std::size_t cutLines = 0;           // lines that hold no complete row
    };
    // Calls `row` for every complete row, oldest first, until it returns false. A missing
    // file holds no rows. The only reader of the file's format.
    ReadResult read(const std::function<bool(const HistoryRecord&)>& row) const;

    // Removes the file and syncs its folder; false when it is still there.
    bool remove();

    // Called between an append's write and its sync, for tests that end the program there.
    std::function<void()> afterAppend;
    // Syncs the file, or its folder after the file was made; true when done. Tests count.
    std::function<bool(int fd)> sync = [](int fd) { return ::fsync(fd) == 0; };

  private:
    std::string path_;
};

// The pending rows file of the database at `databasePath`.
std::string pendingRowsPath(const std::string& databasePath);

} // namespace mirv
