#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv {

namespace fs = std::filesystem;

namespace {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the file `from` into the open descriptor `to`; errno tells why not.
bool copyInto(const std::string& from, int to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    char buffer[1 << 16];
    bool ok = true;
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = writeAll(to, buffer, static_cast<std::size_t>(n));
    }
    const int saved = errno;
    ::close(in);
    errno = saved;
    return ok;
}

} // namespace

OutputFile::OutputFile(const std::string& target, const ProtectedFiles& station, bool byName)
    : target_(target), name_(target == "-" ? "standard output" : target) {
    const bool standardOutput = target == "-";
    if (const auto refused = standardOutput ? refusedOutput(STDOUT_FILENO, name_, station)
                                            : refusedOutput(target, station)) {
        error_ = *refused;
        return;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    const bool special = standardOutput || (fs::exists(status) && !fs::is_regular_file(status));
    if (special && !byName) {
        way_ = Way::Direct;
        path_ = target;
        fd_ = standardOutput ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                             : ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0)
            error_ = describe(errno);
        return;
    }
    if (special) {
        way_ = Way::CopyOut;
        const fs::path folder = fs::temp_directory_path(ec);
        openTemporary(((ec ? fs::path("/tmp") : folder) / "mirv-output").string());
        return;
    }
    // Through a symbolic link the file it names is replaced, never the link.
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec)
        target_ = resolved.string();
    openTemporary(target_);
    struct stat existing {};
    if (fd_ >= 0 && ::stat(target_.c_str(), &existing) == 0)
        ::fchmod(fd_, existing.st_mode & 0777);
}

void OutputFile::openTemporary(const std::string& stem) {
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        path_ = stem + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        error_ = describe(errno);
        path_.clear();
    }
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (way_ == Way::CopyOut || (way_ == Way::Replace && !committed_))
        if (!path_.empty())
            ::unlink(path_.c_str());
}

std::string OutputFile::describe(int error) const {
    return "cannot write " + name_ + ": " + std::strerror(error);
}

std::optional<std::string> OutputFile::write(std::string_view bytes) {
    if (fd_ < 0)
        return error_;
    if (!writeAll(fd_, bytes.data(), bytes.size()))
        return describe(errno);
    return std::nullopt;
}

std::optional<std::string> OutputFile::commit() {
    if (fd_ < 0)
        return error_;
    if (way_ == Way::Direct) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR)
            return describe(errno);
        committed_ = true;
        return std::nullopt;
    }
    if (way_ == Way::CopyOut) {
        const int out = target_ == "-" ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                                       : ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        const bool copied = out >= 0 && copyInto(path_, out);
        const int error = errno;
        if (out >= 0 && ::close(out) != 0 && copied && errno != EINTR)
            return describe(errno);
        if (!copied)
            return describe(error);
        committed_ = true;
        return std::nullopt;
    }
    if (::fsync(fd_) != 0)
        return describe(errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0)
        return describe(errno);
    committed_ = true;
    // The rename itself survives a power cut once the folder is synced.
    const std::string folder = fs::path(target_).parent_path().string();
    if (const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
}

} // namespace mirv
