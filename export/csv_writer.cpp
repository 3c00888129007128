#include "csv_writer.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

namespace mirv {

CsvWriter::CsvWriter(std::FILE* out) : out_(out) {
    line_ = "\xEF\xBB\xBF";
    write();
}

void CsvWriter::writeRow(std::span<const std::string_view> fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line_ += ',';
        appendField(fields[i]);
    }
    line_ += "\r\n";
    write();
}

namespace {

// One pass over the bytes: find_first_of would search the set once per byte.
bool needsQuotes(std::string_view field) {
    for (const char c : field)
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    return false;
}

} // namespace

void CsvWriter::appendField(std::string_view field) {
    if (!needsQuotes(field)) {
        line_ += field;
        return;
    }
    line_ += '"';
    for (const char c : field) {
        if (c == '"')
            line_ += '"';
        line_ += c;
    }
    line_ += '"';
}

void CsvWriter::write() {
    if (!line_.empty() && std::fwrite(line_.data(), 1, line_.size(), out_) != line_.size() &&
        error_ == 0)
        error_ = errno ? errno : EIO;
    line_.clear();
}

bool CsvWriter::flush() {
    if (std::fflush(out_) != 0 && error_ == 0)
        error_ = errno ? errno : EIO;
    return error_ == 0;
}

std::string csvText(const std::function<void(CsvWriter&)>& write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (!out)
        throw std::bad_alloc();
    {
        CsvWriter csv(out);
        write(csv);
    }
    const bool closed = std::fclose(out) == 0;
    std::unique_ptr<char, decltype(&std::free)> owned(buffer, &std::free);
    if (!closed)
        throw std::bad_alloc();
    return std::string(buffer, size);
}

} // namespace mirv
