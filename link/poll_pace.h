#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace mirv {

// The time one poll needs on the line: the 8-byte request and the 187-byte answer at 10 bits a
// character, plus the meter's turnaround. A poll timer faster than that flushes every answer
// before it has arrived.
constexpr int kMeterTurnaroundMs = 40;
int shortestPollIntervalMs(int baud);

// The poll interval to run: the stored one, but never faster than the line allows at the
// baud rate of `lineSettings` ("9600,n,8,1").
int pollIntervalFor(int storedMs, std::string_view lineSettings);

// When the poll ticks are due. Each is due one interval after the one before it was due, not
// after it came, so a timer that wakes a little late loses no polls. A tick more than an
// interval late (the program stalled) plans anew from then on rather than making up the
// missed ticks in a burst.
class PollPace {
  public:
    // The first tick is due one interval from now.
    void start(int intervalMs);
    // A tick came now; the milliseconds from now until the next is due (at least 0).
    int tick();
    // The milliseconds from now until the next tick is due (at least 0).
    int untilDueMs() const;
    int intervalMs() const { return intervalMs_; }

    // Monotonic microseconds; tests may drive another clock.
    std::function<std::int64_t()> clockUs = steadyMicroseconds;
    static std::int64_t steadyMicroseconds();

  private:
    int intervalMs_ = 0;
    std::int64_t dueUs_ = 0;
};

} // namespace mirv
