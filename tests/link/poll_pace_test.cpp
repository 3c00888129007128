#include "poll_pace.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

// A timer that wakes up late by a few milliseconds each time, as a loaded machine's does,
// polls at the fastest interval for 100 s of a driven clock.
TEST(PollPace, LateWakingTimerLosesNoPolls) {
    const struct {
        const char* name;
        int lateMs[4]; // each wake-up's lateness, in turn
    } cases[] = {
        {"on time", {0, 0, 0, 0}},
        {"a little late", {3, 7, 1, 12}},
        {"always late", {12, 12, 12, 12}},
    };
    constexpr int kIntervalMs = 244;
    constexpr std::int64_t kRunUs = 100'000'000;
    for (const auto& c : cases) {
        std::int64_t nowUs = 5'000'000;
        PollPace pace;
        pace.clockUs = [&] { return nowUs; };
        pace.start(kIntervalMs);
        const std::int64_t endUs = nowUs + kRunUs;
        int waitMs = pace.untilDueMs();
        EXPECT_EQ(waitMs, kIntervalMs) << c.name;
        int ticks = 0;
        for (;;) {
            nowUs += std::int64_t{waitMs + c.lateMs[ticks % 4]} * 1000;
            if (nowUs > endUs)
                break;
            ++ticks;
            waitMs = pace.tick();
        }
        const int asked = static_cast<int>(kRunUs / (kIntervalMs * 1000));
        EXPECT_GE(ticks * 100, asked * 99) << c.name << ": " << ticks << " of " << asked;
        EXPECT_LE(ticks, asked) << c.name;
    }
}

// After a stall longer than an interval the next tick is a whole interval away: the polls
// missed are not made up in a burst.
TEST(PollPace, StallPlansAnewInsteadOfBursting) {
    std::int64_t nowUs = 0;
    PollPace pace;
    pace.clockUs = [&] { return nowUs; };
    pace.start(250);
    nowUs = 250'000;
    EXPECT_EQ(pace.tick(), 250);
    nowUs = 2'000'000; // due at 500 ms, came 1.5 s late
    EXPECT_EQ(pace.tick(), 250);
    nowUs = 2'300'000; // due at 2.25 s, 50 ms late
    EXPECT_EQ(pace.tick(), 200);
}

} // namespace
} // namespace mirv
