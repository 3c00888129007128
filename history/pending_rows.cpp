#include "pending_rows.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv {

namespace {

constexpr int kFields = 13;
constexpr const char* kHeader = "MeterID,MinuteAverage,Foward,Reverse,TXTctemperature1,"
                                "TXTctemperature2,TXTreliang,TXTlengliang,TXTleijire_z,"
                                "TXTleijileng_z,Alarmstatus,CreateTime,Complete\n";

std::string systemError() {
    return std::strerror(errno ? errno : EIO);
}

// The row's fields in table order, as the file holds them.
std::vector<const std::string*> fieldsOf(const HistoryRecord& r) {
    return {&r.meterId,   &r.flow,       &r.forwardTotal, &r.reverseTotal,
            &r.inletTemp, &r.outletTemp, &r.heatPower,    &r.coldPower,
            &r.heatTotal, &r.coldTotal,  &r.alarmStatus,  &r.createTime};
}

void appendField(std::string& line, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
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

bool syncFolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// A complete line of the file: its 13 fields with the closing "1".
bool rowOf(const std::vector<std::string>& fields, HistoryRecord& r) {
    if (fields.size() != kFields || fields[kFields - 1] != "1")
        return false;
    const auto targets = fieldsOf(r);
    for (std::size_t i = 0; i < targets.size(); ++i)
        *const_cast<std::string*>(targets[i]) = fields[i];
    return true;
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
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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
        bytes = kHeader;
    else if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        bytes = "\n"; // a line a crash cut short stays a line of its own
    for (const HistoryRecord& r : rows) {
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
    ok = ok && ::fdatasync(fd) == 0 && (existed || syncFolderOf(path_));
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

std::optional<std::string>
PendingRowsFile::read(const std::function<bool(const HistoryRecord&)>& row) const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? std::nullopt : std::optional<std::string>(systemError());
    std::vector<std::string> fields(1);
    bool quoted = false, afterQuote = false, wanted = true;
    HistoryRecord r;
    auto endLine = [&] {
        if (!fields.back().empty() && fields.back().back() == '\r')
            fields.back().pop_back();
        if (rowOf(fields, r))
            wanted = row(r);
        fields.assign(1, std::string());
    };
    char buffer[1 << 16];
    ssize_t n = 0;
    std::optional<std::string> failure;
    while (wanted && (n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failure = systemError();
            break;
        }
        for (ssize_t i = 0; i < n && wanted; ++i) {
            const char c = buffer[i];
            if (quoted) {
                if (c == '"')
                    quoted = false, afterQuote = true;
                else
                    fields.back() += c;
            } else if (c == '"') {
                if (afterQuote)
                    fields.back() += '"';
                quoted = true;
                afterQuote = false;
            } else if (c == ',') {
                fields.emplace_back();
                afterQuote = false;
            } else if (c == '\n') {
                endLine();
                afterQuote = false;
            } else {
                fields.back() += c;
                afterQuote = false;
            }
        }
    }
    // A last line without its line end is whole when its closing field is there.
    if (wanted && !failure && !quoted && (fields.size() > 1 || !fields[0].empty()))
        endLine();
    ::close(fd);
    return failure;
}

bool PendingRowsFile::remove() {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
        return false;
    syncFolderOf(path_);
    return true;
}

} // namespace mirv
