#include "single_instance.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mirv {

namespace {

// What the system says when a file is made in the folder (QLockFile keeps errno to itself).
QString creationFailure(const QString& programDir) {
    const QByteArray probe = QFile::encodeName(
        programDir +
        QStringLiteral("/.mirv-station-probe-%1").arg(QCoreApplication::applicationPid()));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    ::unlink(probe.constData());
    return QStringLiteral("The lock file mirv-station.lock cannot be made.");
}

} // namespace

SingleInstance::SingleInstance(const QString& programDir)
    : lock_(programDir + QStringLiteral("/mirv-station.lock")) {
    // Staleness by age would let a second copy in once the first has run for a while; only
    // a lock whose process is gone is stale.
    lock_.setStaleLockTime(0);
    if (lock_.tryLock(0))
        return;
    if (lock_.error() == QLockFile::LockFailedError) {
        outcome_ = OtherCopyRunning;
    } else {
        outcome_ = FolderNotWritable;
        failure_ = creationFailure(programDir);
    }
}

QString folderNotWritableMessage(const QString& programDir, const QString& failure) {
    return QStringLiteral("程序目录不可写,无法启动!\r\n") + programDir + QStringLiteral("\r\n") +
           failure;
}

} // namespace mirv
