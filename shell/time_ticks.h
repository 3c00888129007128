#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace mirv {

struct TimeTick {
    std::int64_t ms; // since the epoch
    QString label;
    bool operator==(const TimeTick&) const = default;
};

// Ticks on round local times between fromMs and toMs, both included, at most maxTicks of them:
// every few minutes or hours labelled with the time ("HH:mm", midnight with the date "MM-dd"),
// every day or few days labelled with the date ("MM-dd", "yyyy-MM-dd" when the range spans
// years), every few months ("yyyy-MM") or years ("yyyy").
std::vector<TimeTick> timeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks);

} // namespace mirv
