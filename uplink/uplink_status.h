#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace mirv {

// What the uplink is doing, as far as the operator needs to know.
enum class UplinkState {
    Forwarding,
    ServerUnreachable,
    PoolerBusy,
    ServerRefused,
    ServerRejected,
    StationBusy,
    OtherStation,
    OtherFolder,
    Misconfigured,
    LocalMissing,
    LocalLocked,
    LocalUnreadable,
};

// Says each state once, when it begins: a server that stays down gives one line, not one per
// retry.
class StatusLine {
  public:
    explicit StatusLine(std::function<void(const std::string&)> say) : say_(std::move(say)) {}

    // Says `text` when `state` differs from the last state said; whether it did.
    bool report(UplinkState state, const std::string& text) {
        if (last_ == state)
            return false;
        last_ = state;
        say_(text);
        return true;
    }

  private:
    std::function<void(const std::string&)> say_;
    std::optional<UplinkState> last_;
};

// Waits between retries: `first`, then twice as long each time up to `cap`, until reset.
class RetryDelay {
  public:
    RetryDelay(std::chrono::milliseconds first, std::chrono::milliseconds cap)
        : first_(first), cap_(cap), next_(first) {}

    std::chrono::milliseconds next() {
        const auto now = next_;
        next_ = std::min(cap_, next_ * 2);
        return now;
    }
    void reset() { next_ = first_; }

  private:
    std::chrono::milliseconds first_;
    std::chrono::milliseconds cap_;
    std::chrono::milliseconds next_;
};

} // namespace mirv
