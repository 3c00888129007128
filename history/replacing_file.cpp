#include "replacing_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv {

namespace fs = std::filesystem;

namespace {

std::string describe(const std::string& path, int error) {
    return "cannot write " + path + ": " + std::strerror(error);
}

} // namespace

ReplacingFile::ReplacingFile(const std::string& target) : target_(target) {
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        direct_ = true;
        path_ = target;
        fd_ = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0)
            error_ = describe(target, errno);
        return;
    }
    // Through a symbolic link the file it names is replaced, never the link.
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec)
        target_ = resolved.string();
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        path_ = target_ + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        error_ = describe(target, errno);
        path_.clear();
    }
}

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!direct_ && !committed_ && !path_.empty())
        ::unlink(path_.c_str());
}

std::optional<std::string> ReplacingFile::commit() {
    if (fd_ < 0)
        return error_;
    if (direct_) {
        committed_ = true;
        return std::nullopt;
    }
    if (::fsync(fd_) != 0)
        return describe(target_, errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0)
        return describe(target_, errno);
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
