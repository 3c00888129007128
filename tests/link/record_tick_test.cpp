#include "record_tick.h"

#include <gtest/gtest.h>

#include <vector>

namespace mirv {
namespace {

// Feeds one interval text per minute and returns the minutes (1-based) that recorded.
std::vector<int> recordedMinutes(const std::vector<std::string>& intervalPerMinute) {
    RecordTick tick;
    std::vector<int> minutes;
    int minute = 0;
    tick.recordAll = [&] { minutes.push_back(minute); };
    for (const auto& interval : intervalPerMinute) {
        ++minute;
        tick.minutePassed(interval);
    }
    return minutes;
}

std::vector<std::string> repeat(const std::string& text, int n) {
    return std::vector(n, text);
}

TEST(RecordTick, RecordsEveryIntervalAndMendsALoweredInterval) {
    auto lowered = repeat("10", 7);
    auto then = repeat("5", 12);
    lowered.insert(lowered.end(), then.begin(), then.end());
    const struct {
        const char* name;
        std::vector<std::string> intervals;
        std::vector<int> minutes;
    } cases[] = {
        {"every 5", repeat("5", 16), {5, 10, 15}},
        {"every 1", repeat("1", 3), {1, 2, 3}},
        {"2.5 records once the count reaches it", repeat("2.5", 9), {3, 6, 9}},
        {"lowered below the count records at once", lowered, {8, 13, 18}},
        {"0 records nothing", repeat("0", 5), {}},
        {"empty records nothing", repeat("", 5), {}},
        {"negative records nothing", repeat("-3", 5), {}},
        {"letters record nothing", repeat("abc", 5), {}},
        {"leading number", repeat("2min", 4), {2, 4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(recordedMinutes(c.intervals), c.minutes) << c.name;
}

TEST(RecordTick, CounterNeverOverflows) {
    RecordTick tick;
    for (int i = 0; i < 40000; ++i)
        tick.minutePassed("0");
    EXPECT_EQ(tick.count(), 40000);
    bool recorded = false;
    tick.recordAll = [&] { recorded = true; };
    tick.minutePassed("5");
    EXPECT_TRUE(recorded);
    EXPECT_EQ(tick.count(), 0);
}

} // namespace
} // namespace mirv
