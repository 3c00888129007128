#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace mirv {

// Slows down guessing passwords: after `kFree` failed logins from one address, that address
// must wait before it may try again, a minute after the first lock-out, doubling with each
// further failure up to a quarter of an hour. A login that works clears its address.
class LoginLimit {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFree = 5;

    // How long `address` must still wait before a try; zero when it may try now.
    std::chrono::seconds waitFor(const std::string& address, Clock::time_point now);
    void failed(const std::string& address, Clock::time_point now);
    void succeeded(const std::string& address);

  private:
    struct Tally {
        int failures = 0;
        Clock::time_point lockedUntil{};
        Clock::time_point last{};
    };
    std::mutex mutex_;
    std::map<std::string, Tally> tallies_;
};

} // namespace mirv
