#include "pending_rows.h"

#include "shared_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>

namespace mirv {

namespace {

constexpr std::size_t kFields = 13;
constexpr std::string_view kHeader = "MeterID,MinuteAverage,Foward,Reverse,TXTctemperature1,"
                                     "TXTctemperature2,TXTreliang,TXTlengliang,TXTleijire_z,"
                                     "TXTleijileng_z,Alarmstatus,CreateTime,Complete";

std::string systemError() {
    return std::strerror(errno ? errno : EIO);
}

// The row's fields in table order, as the file holds them.
std::vector<std::string*> fieldsOf(HistoryRecord& r) {
    return {&r.meterId,   &r.flow,       &r.forwardTotal, &r.reverseTotal,
            &r.inletTemp, &r.outletTemp, &r.heatPower,    &r.coldPower,
            &r.heatTotal, &r.coldTotal,  &r.alarmStatus,  &r.createTime};
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

// A complete line of the file: its 13 fields with the closing "1".
bool rowOfLine(std::string_view line, HistoryRecord& r) {
    const auto fields = fieldsOfLine(line);
    if (!fields || fields->size() != kFields || fields->back() != "1")
        return false;
    const auto targets = fieldsOf(r);
    for (std::size_t i = 0; i < targets.size(); ++i)
        *targets[i] = (*fields)[i];
    return true;
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

std::string pendingRowsPath(const std::string& databasePath) {
    return databasePath + "-pending.csv";
}

bool PendingRowsFile::exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0;
}

std::optional<std::string> PendingRowsFile::append(const std::vector<HistoryRecord>& rows) {
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
        bytes.assign(kHeader).push_back('\n');
    else if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        bytes = "\n"; // a line a crash cut short stays a line of its own
    for (HistoryRecord r : rows) {
        for (const std::string* field : fieldsOf(r)) {
            appendField(bytes, *field);
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
        // Half a pass would be read back as rows that are not all there.
        [[maybe_unused]] const int cut = ::ftruncate(fd, st.st_size);
        if (!existed)
            ::unlink(path_.c_str());
    }
    ::close(fd);
    return failure;
}

PendingRowsFile::ReadResult
PendingRowsFile::read(const std::function<bool(const HistoryRecord&)>& row) const {
    ReadResult result;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            result.failure = systemError();
        return result;
    }
    bool first = true, wanted = true;
    HistoryRecord r;
    // A line of the file without its line end; false to stop.
    auto take = [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // The header, or what a cut left of it, holds no row.
        const bool header = first && kHeader.substr(0, line.size()) == line;
        first = false;
        if (header || line.empty())
            return;
        if (rowOfLine(line, r))
            wanted = row(r);
        else
            ++result.cutLines;
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

bool PendingRowsFile::remove() {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
        return false;
    syncFolderOf(path_, sync);
    return true;
}

} // namespace mirv
