#include "single_instance.h"

#include "shared_file.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace mirv {

SingleInstance::SingleInstance(const QString& programDir) {
    const std::string path =
        QFile::encodeName(programDir + QStringLiteral("/mirv-station.lock")).toStdString();
    fd_ = openSharedFile(path, O_RDWR);
    // A lock file an older copy of another operator left only readable still takes the lock,
    // in a folder that is ours to write.
    if (fd_ < 0 && errno == EACCES && ::access(QFile::encodeName(programDir), W_OK) == 0)
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        outcome_ = FolderNotWritable;
        failure_ = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    int locked;
    while ((locked = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        outcome_ = errno == EWOULDBLOCK ? OtherCopyRunning : FolderNotWritable;
        failure_ = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd_);
        fd_ = -1;
    }
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0)
        ::close(fd_);
}

QString folderNotWritableMessage(const QString& programDir, const QString& failure) {
    return QStringLiteral("程序目录不可写,无法启动!\r\n") + programDir + QStringLiteral("\r\n") +
           failure;
}

} // namespace mirv
