#pragma once

#include <QString>

namespace mirv {

// Holds the lock that keeps a second copy from running in the same program folder: an
// advisory lock on the file mirv-station.lock, which dies with the process that holds it, so
// that a copy that crashed or lost its display never keeps the next one out, whoever it ran
// as. The file itself stays.
class SingleInstance {
  public:
    enum Outcome {
        Acquired,
        OtherCopyRunning, // a live copy holds the lock
        FolderNotWritable // the lock file cannot be made at all
    };

    explicit SingleInstance(const QString& programDir);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Outcome outcome() const { return outcome_; }
    bool acquired() const { return outcome_ == Acquired; }
    // Why the lock file cannot be made, in the system's words.
    const QString& failure() const { return failure_; }

  private:
    int fd_ = -1;
    Outcome outcome_ = Acquired;
    QString failure_;
};

// The box text when the program folder cannot be written.
QString folderNotWritableMessage(const QString& programDir, const QString& failure);

} // namespace mirv
