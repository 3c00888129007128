#include "single_instance.h"

namespace mirv {

SingleInstance::SingleInstance(const QString& programDir)
    : lock_(programDir + QStringLiteral("/mirv-station.lock")) {
    // Staleness by age would let a second copy in once the first has run for a while; only
    // a lock whose process is gone is stale.
    lock_.setStaleLockTime(0);
    acquired_ = lock_.tryLock(0);
}

} // namespace mirv
