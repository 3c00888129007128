#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace mirv {

// Writes comma-separated rows for spreadsheet programs: UTF-8 after a byte-order mark, each row
// ended by CR LF, a field quoted only when it holds a comma, a quote or a line break (quotes
// doubled inside). Texts are written as they are.
class CsvWriter {
  public:
    // Writes the byte-order mark at once. `out` stays the caller's.
    explicit CsvWriter(std::FILE* out);

    void writeRow(std::span<const std::string_view> fields);

    // Flushes what is buffered; false when any write failed.
    bool flush();
    bool good() const { return error_ == 0; }
    // The errno of the first failed write, 0 while none failed.
    int error() const { return error_; }

  private:
    void appendField(std::string_view field);
    void write();

    std::FILE* out_;
    std::string line_;
    int error_ = 0;
};

// What `write` writes through a CsvWriter, as one string.
std::string csvText(const std::function<void(CsvWriter&)>& write);

} // namespace mirv
