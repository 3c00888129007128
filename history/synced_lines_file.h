#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace mirv {

// A CSV file of rows that must survive a restart and a power cut until they are written where
// they belong: a header line, then one line per row with its fields and a closing field "1".
// A row never spans lines: a field with a comma or a quote is quoted (its quotes doubled), a
// line end in a text is written as a space. Rows are appended and synced batch by batch; a
// line a crash cut short, even inside a quoted field, is that line alone: it is skipped and
// counted when the file is read back, and the next append starts on a fresh line.
class SyncedLinesFile {
  public:
    // `fields`: how many fields a row has, without the closing one.
    SyncedLinesFile(std::string path, std::string_view header, std::size_t fields)
        : path_(std::move(path)), header_(header), fields_(fields) {}

    const std::string& path() const { return path_; }
    bool exists() const;

    // Appends the rows and syncs them to disk. On failure the file is cut back to what it held
    // before, and the system's reason is returned.
    std::optional<std::string> appendLines(const std::vector<std::vector<std::string>>& rows);

    struct ReadResult {
        std::optional<std::string> failure; // the system's reason when it could not be read
        std::size_t cutLines = 0;           // lines that hold no complete row
    };
    // Calls `row` with the fields of every complete row, oldest first, until it returns false.
    // A missing file holds no rows.
    ReadResult readLines(const std::function<bool(std::vector<std::string>&)>& row) const;

    // Removes the file and syncs its folder; false when it is still there.
    bool remove();

    // Called between an append's write and its sync, for tests that end the program there.
    std::function<void()> afterAppend;
    // Syncs the file, or its folder after the file was made; true when done. Tests count.
    std::function<bool(int fd)> sync = [](int fd) { return ::fsync(fd) == 0; };

  private:
    std::string path_;
    std::string_view header_;
    std::size_t fields_;
};

} // namespace mirv
