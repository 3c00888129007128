#pragma once

#include <QLockFile>
#include <QString>

namespace mirv {

// Holds the lock that keeps a second copy from running in the same program folder. A lock
// left by a copy that crashed does not count.
class SingleInstance {
  public:
    enum Outcome {
        Acquired,
        OtherCopyRunning, // a live copy holds the lock
        FolderNotWritable // the lock file cannot be made at all
    };

    explicit SingleInstance(const QString& programDir);
    Outcome outcome() const { return outcome_; }
    bool acquired() const { return outcome_ == Acquired; }
    // Why the lock file cannot be made, in the system's words.
    const QString& failure() const { return failure_; }

  private:
    QLockFile lock_;
    Outcome outcome_ = Acquired;
    QString failure_;
};

// The box text when the program folder cannot be written.
QString folderNotWritableMessage(const QString& programDir, const QString& failure);

} // namespace mirv
