#pragma once

#include <QLockFile>
#include <QString>

namespace mirv {

// Holds the lock that keeps a second copy from running in the same program folder. A lock
// left by a copy that crashed does not count.
class SingleInstance {
  public:
    explicit SingleInstance(const QString& programDir);
    bool acquired() const { return acquired_; }

  private:
    QLockFile lock_;
    bool acquired_ = false;
};

} // namespace mirv
