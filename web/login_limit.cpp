#include "login_limit.h"

#include <algorithm>

namespace mirv {

namespace {

constexpr auto kForgetAfter = std::chrono::hours(1);
constexpr auto kLongest = std::chrono::minutes(15);
// Beyond this many addresses the tallies of those quiet longest are dropped, so that a flood
// of addresses cannot grow the table without end.
constexpr std::size_t kMostAddresses = 10000;

} // namespace

std::chrono::seconds LoginLimit::waitFor(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto found = tallies_.find(address);
    if (found == tallies_.end() || found->second.lockedUntil <= now)
        return std::chrono::seconds(0);
    return std::chrono::ceil<std::chrono::seconds>(found->second.lockedUntil - now);
}

void LoginLimit::failed(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (tallies_.size() >= kMostAddresses)
        std::erase_if(tallies_, [&](const auto& t) { return now - t.second.last > kForgetAfter; });
    if (tallies_.size() >= kMostAddresses)
        tallies_.clear();
    Tally& t = tallies_[address];
    if (now - t.last > kForgetAfter)
        t.failures = 0;
    t.last = now;
    ++t.failures;
    if (t.failures >= kFree) {
        const int doublings = std::min(t.failures - kFree, 4);
        const auto wait =
            std::min<Clock::duration>(std::chrono::minutes(1) * (1 << doublings), kLongest);
        t.lockedUntil = now + wait;
    }
}

void LoginLimit::succeeded(const std::string& address) {
    std::lock_guard lock(mutex_);
    tallies_.erase(address);
}

} // namespace mirv
