#include "local_seconds.h"
#include "program_folder.h"
#include "trend_data.h"
#include "trend_reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace mirv {
namespace {

constexpr double kEmpty = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kMinute = 60000;

TrendPoint at(int minute, double value) {
    return {minute * kMinute, value};
}

TEST(TrendReduction, BreaksAtEmptyCellsAndGapsAndKeepsBucketExtremes) {
    // Minutes 0..6 and 16..18: an empty cell at minute 4, ten minutes without records after 6.
    const std::vector<std::int64_t> times = {
        0,           kMinute,     2 * kMinute,  3 * kMinute,  4 * kMinute,
        5 * kMinute, 6 * kMinute, 16 * kMinute, 17 * kMinute, 18 * kMinute};
    const std::vector<double> values = {1, 5, 2, 3, kEmpty, 4, 4, 9, 0, 7};
    EXPECT_EQ(gapThresholdMs(times), 2 * kMinute);
    const struct {
        const char* name;
        std::int64_t gapMs, fromMs, toMs;
        int buckets;
        std::vector<TrendRun> runs;
    } cases[] = {
        {"two buckets",
         2 * kMinute,
         0,
         18 * kMinute,
         2,
         {{at(0, 1), at(1, 5), at(3, 3)}, {at(5, 4), at(6, 4)}, {at(16, 9), at(17, 0), at(18, 7)}}},
        {"a bucket per record",
         2 * kMinute,
         0,
         18 * kMinute,
         1000,
         {{at(0, 1), at(1, 5), at(2, 2), at(3, 3)},
          {at(5, 4), at(6, 4)},
          {at(16, 9), at(17, 0), at(18, 7)}}},
        {"no gap threshold",
         0,
         0,
         18 * kMinute,
         1000,
         {{at(0, 1), at(1, 5), at(2, 2), at(3, 3)},
          {at(5, 4), at(6, 4), at(16, 9), at(17, 0), at(18, 7)}}},
        {"zoomed, one neighbour kept on each side",
         2 * kMinute,
         2 * kMinute,
         5 * kMinute,
         10,
         {{at(1, 5), at(2, 2), at(3, 3)}, {at(5, 4), at(6, 4)}}},
        {"nothing visible", 2 * kMinute, 0, 18 * kMinute, 0, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reduceTrend(times, values, c.gapMs, c.fromMs, c.toMs, c.buckets), c.runs)
            << c.name;
}

TEST(TrendReduction, GapThresholdIsTwiceTheMedianSpacing) {
    const struct {
        std::vector<std::int64_t> times;
        std::int64_t gap;
    } cases[] = {
        {{}, 0},
        {{5}, 0},
        {{5, 5, 5}, 0},
        {{0, 60, 120, 180, 600}, 120},
        {{0, 0, 0, 10, 20, 900, 1800}, 20}, // repeated times are no spacing
    };
    for (const auto& c : cases)
        EXPECT_EQ(gapThresholdMs(c.times), c.gap);
}

// A pause of exactly twice the median spacing is no gap; a millisecond more is one.
TEST(TrendReduction, GapAtExactlyTwiceTheMedianSpacing) {
    const std::vector<double> values = {1, 2, 3, 4};
    for (const std::int64_t last : {4 * kMinute, 4 * kMinute + 1}) {
        const std::vector<std::int64_t> times = {0, kMinute, 2 * kMinute, last};
        const std::int64_t gap = gapThresholdMs(times);
        EXPECT_EQ(gap, 2 * kMinute);
        const auto runs = reduceTrend(times, values, gap, 0, last, 1000);
        EXPECT_EQ(runs.size(), last == 4 * kMinute ? 1u : 2u) << last;
    }
}

// A long line with spikes, empty cells and gaps, reduced onto 300 buckets: every piece between
// breaks comes out as one run from its first to its last record, made only of its own records,
// and holding the lowest and the highest record of each bucket it crosses.
TEST(TrendReduction, EveryBucketKeepsItsExtremesOnLongLines) {
    std::vector<std::int64_t> times;
    std::vector<double> values;
    std::int64_t t = 0;
    for (int i = 0; i < 20000; ++i) {
        t += i % 7001 == 0 ? 30 * kMinute : kMinute;
        times.push_back(t);
        double v = 10 * std::sin(i / 50.0);
        if (i % 997 == 0)
            v += 100;
        if (i % 1499 == 0)
            v -= 100;
        values.push_back(i % 5003 == 0 ? kEmpty : v);
    }
    const std::int64_t gap = 2 * kMinute;
    const int buckets = 300;
    const std::int64_t from = times.front(), to = times.back();
    const auto runs = reduceTrend(times, values, gap, from, to, buckets);

    std::size_t run = 0;
    for (std::size_t i = 0; i < times.size();) {
        if (std::isnan(values[i])) {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < times.size() && !std::isnan(values[end]) && times[end] - times[end - 1] <= gap)
            ++end;
        ASSERT_LT(run, runs.size());
        const TrendRun& r = runs[run++];
        EXPECT_EQ(r.front(), (TrendPoint{times[i], values[i]}));
        EXPECT_EQ(r.back(), (TrendPoint{times[end - 1], values[end - 1]}));
        for (const TrendPoint& p : r) {
            const auto k = std::lower_bound(times.begin() + i, times.begin() + end, p.timeMs);
            ASSERT_TRUE(k != times.begin() + end && *k == p.timeMs);
            EXPECT_EQ(values[k - times.begin()], p.value);
        }
        // Bucket b holds the times from + b * span / buckets up to the next; the last one also
        // holds `to` itself.
        auto bucketOf = [&](std::int64_t time) {
            return std::min<std::int64_t>(buckets - 1, (time - from) * buckets / (to - from));
        };
        for (std::size_t b = i; b < end;) {
            const std::int64_t bucket = bucketOf(times[b]);
            std::size_t low = b, high = b, e = b;
            for (; e < end && bucketOf(times[e]) == bucket; ++e) {
                low = values[e] < values[low] ? e : low;
                high = values[e] > values[high] ? e : high;
            }
            for (std::size_t k : {low, high})
                EXPECT_NE(std::find(r.begin(), r.end(), TrendPoint{times[k], values[k]}), r.end())
                    << "bucket " << bucket << " record " << k;
            b = e;
        }
        i = end;
    }
    EXPECT_EQ(run, runs.size());
}

// Sets the process's time zone for one test and puts the old one back.
class ZoneForTest {
  public:
    explicit ZoneForTest(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneForTest() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

TEST(LocalSeconds, ElapsedTimeAcrossDaylightSavingChanges) {
    ZoneForTest zone("CET-1CEST,M3.5.0,M10.5.0/3");
    LocalSeconds clock;
    const struct {
        const char* earlier;
        const char* later;
        std::int64_t seconds;
    } cases[] = {
        {"2025-03-30 01:59:00", "2025-03-30 03:00:00", 60}, // clocks went forward at 02:00
        {"2025-03-29 12:00:00", "2025-03-30 12:00:00", 82800},
        {"2025-10-25 12:00:00", "2025-10-26 12:00:00", 90000},
        {"2025-06-01 00:00:00", "2025/6/1 0:01", 60},         // any form the query accepts
        {"2024-02-28 23:00:00", "2024-02-29 01:00:30", 7230}, // a leap day
    };
    for (const auto& c : cases) {
        const auto a = clock.of(c.earlier), b = clock.of(c.later);
        ASSERT_TRUE(a && b) << c.earlier << " " << c.later;
        EXPECT_EQ(*b - *a, c.seconds) << c.earlier << " " << c.later;
    }
    EXPECT_EQ(*clock.of("2025-01-01 01:00:00"), 1735689600); // 00:00 UTC
    // Impossible days are no time, in the stored form as in any other.
    for (const char* bad :
         {"", "2025-13-01 00:00:00", "2025-01-01 24:00:00", "yesterday", "2024-02-30 00:00:00",
          "2025-02-29 12:00:00", "2025-04-31 08:00:00", "0000-01-01 00:00:00", "2025/2/29 8:00"})
        EXPECT_FALSE(clock.of(bad)) << bad;
}

TEST(TrendData, OneMetersLineWithEmptyAndNonNumericCells) {
    test::ProgramFolder folder;
    folder.exec(R"(INSERT INTO Historydata
        (MeterID, TXTctemperature1, TXTctemperature2, CreateTime) VALUES
        ('7', '1.00', '1.00', '2025-05-01 07:59:59'),
        ('7', '55.50', '47.25', '2025-05-01 08:00:00'),
        ('8', '99.00', '99.00', '2025-05-01 08:00:30'),
        ('7', '', '47.00', '2025-05-01 08:01:00'),
        ('7', 'x', '46.75', '2025-05-01 08:02:00'),
        ('7', '56.00', '-0.5', '2025-05-01 08:10:00'),
        ('7', '1.00', '1.00', '2025-05-01 08:10:01'))");
    const TrendQuantity& temperatures = trendQuantities()[2];
    ASSERT_EQ(temperatures.lineCount, 2);
    HistorySelection selection = selectionFrom({"7", "2025-05-01 08:00", "2025-05-01 08:10", ""});
    const TrendLoad load = loadTrend(folder.databasePath(), selection, temperatures);
    ASSERT_EQ(load.status, PassStatus::Done) << load.error;
    const TrendData& d = load.data;
    ASSERT_EQ(d.timesMs.size(), 4u);
    EXPECT_EQ(d.timesMs[1] - d.timesMs[0], kMinute);
    EXPECT_EQ(d.timesMs[3] - d.timesMs[0], 10 * kMinute);
    ASSERT_EQ(d.lines.size(), 2u);
    EXPECT_EQ(d.lines[0][0], 55.5);
    EXPECT_TRUE(std::isnan(d.lines[0][1]));
    EXPECT_TRUE(std::isnan(d.lines[0][2]));
    EXPECT_EQ(d.lines[0][3], 56.0);
    EXPECT_EQ(d.lines[1], (std::vector<double>{47.25, 47.0, 46.75, -0.5}));
    EXPECT_EQ(d.gapMs, 2 * kMinute);
}

} // namespace
} // namespace mirv
