#include "shared_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv {

namespace {

// Gives the file the folder's group and lets that group read and write it, when the folder
// is the group's to write and the file is ours to change.
void shareWithFolderGroup(int fd, const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    struct stat dir {
    }, file{};
    if (::stat(folder.empty() ? "." : folder.c_str(), &dir) != 0 || !(dir.st_mode & S_IWGRP))
        return;
    if (::fstat(fd, &file) != 0 || file.st_uid != ::geteuid())
        return;
    if (file.st_gid != dir.st_gid) {
        // Possible only when we are in that group; otherwise the mode below is all we can do.
        [[maybe_unused]] const int chowned = ::fchown(fd, static_cast<uid_t>(-1), dir.st_gid);
    }
    const mode_t wanted = (file.st_mode & 07777) | S_IRGRP | S_IWGRP;
    if ((file.st_mode & 07777) != wanted)
        ::fchmod(fd, wanted);
}

} // namespace

int openSharedFile(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0664);
    if (fd < 0)
        return -1;
    const int saved = errno;
    shareWithFolderGroup(fd, path);
    errno = saved;
    return fd;
}

} // namespace mirv
