#include "synced_lines_file.h"

#include "shared_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace mirv {

namespace {

std::string systemError() {
    return std::strerror(errno ? errno : EIO);
}

void appendField(std::string& line, std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (text.find_first_of(",\"") == std::string::npos) {
        line += text;
        return;
    }
    line += '"';
    for (char c : text) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

// The fields of one line, or nothing when it does not keep to the grammar (a quote left
// open by a cut, a quote inside an unquoted field, text after a closing quote).
std::optional<std::vector<std::string>> fieldsOfLine(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i == line.size())
                    return std::nullopt;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"')
                        ++i;
                    else
                        break;
                }
                field += line[i];
            }
            ++i; // past the closing quote
        } else {
            const std::size_t end = std::min(line.find(',', i), line.size());
            field.assign(line.substr(i, end - i));
            if (field.find('"') != std::string::npos)
                return std::nullopt;
            i = end;
        }
        fields.push_back(std::move(field));
        if (i == line.size())
            return fields;
        if (line[i] != ',')
            return std::nullopt;
        ++i;
    }
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Syncs the folder that holds `path`, so that the file's making or removal is on disk.
bool syncFolderOf(const std::string& path, const std::function<bool(int)>& sync) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = sync(fd);
    ::close(fd);
    return synced;
}

} // namespace

bool SyncedLinesFile::exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0;
}

std::optional<std::string>
SyncedLinesFile::appendLines(const std::vector<std::vector<std::string>>& rows) {
    if (rows.empty())
        return std::nullopt;
    const bool existed = exists();
    const int fd = openSharedFile(path_, O_RDWR | O_APPEND);
    if (fd < 0)
        return systemError();
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) != 0) {
        const std::string e = systemError();
        ::close(fd);
        return e;
    }
    char last = '\n';
    if (st.st_size == 0)
        bytes.assign(header_).push_back('\n');
    else if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        bytes = "\n"; // a line a crash cut short stays a line of its own
    for (const std::vector<std::string>& row : rows) {
        for (const std::string& field : row) {
            appendField(bytes, field);
            bytes += ',';
        }
        bytes += "1\n";
    }
    errno = 0;
    bool ok = writeAll(fd, bytes);
    if (ok && afterAppend)
        afterAppend();
    ok = ok && sync(fd) && (existed || syncFolderOf(path_, sync));
    std::optional<std::string> failure;
    if (!ok) {
        failure = systemError();
        // Half a batch would be read back as rows that are not all there.
        [[maybe_unused]] const int cut = ::ftruncate(fd, st.st_size);
        if (!existed)
            ::unlink(path_.c_str());
    }
    ::close(fd);
    return failure;
}

SyncedLinesFile::ReadResult
SyncedLinesFile::readLines(const std::function<bool(std::vector<std::string>&)>& row) const {
    ReadResult result;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            result.failure = systemError();
        return result;
    }
    bool first = true, wanted = true;
    // A line of the file without its line end; false to stop.
    auto take = [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // The header, or what a cut left of it, holds no row.
        const bool header = first && header_.substr(0, line.size()) == line;
        first = false;
        if (header || line.empty())
            return;
        auto fields = fieldsOfLine(line);
        // A complete line: its fields with the closing "1".
        if (fields && fields->size() == fields_ + 1 && fields->back() == "1") {
            fields->pop_back();
            wanted = row(*fields);
        } else {
            ++result.cutLines;
        }
    };
    std::string pending;
    char buffer[1 << 16];
    while (wanted) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.failure = systemError();
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; wanted && (end = pending.find('\n', start)) != std::string::npos;
             start = end + 1)
            take(std::string_view(pending).substr(start, end - start));
        pending.erase(0, start);
    }
    // A last line without its line end is whole when its closing field is there.
    if (wanted && !result.failure && !pending.empty())
        take(pending);
    ::close(fd);
    return result;
}

bool SyncedLinesFile::remove() {
    if (::unlink(path_.c_str()) != 0)
        return errno == ENOENT;
    syncFolderOf(path_, sync);
    return true;
}

} // namespace mirv
