#include "create_database.h"
#include "day_summary_store.h"
#include "history_writer.h"
#include "local_seconds.h"
#include "program_folder.h"
#include "time_zone.h"
#include "trend_data.h"
#include "trend_hours.h"
#include "trend_reduction.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

namespace mirv {
namespace {

std::string stamp(std::int64_t wall) {
    const auto t = static_cast<std::time_t>(wall);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// Two meters' records over about three days from `startWall`: mostly a few minutes apart,
// with equal times, hours without records, long pauses inside an hour, empty and non-numeric
// cells, and values that repeat (so that the first lowest and highest matter).
class RandomHistory {
  public:
    RandomHistory(unsigned seed, std::int64_t startWall) : random_(seed) {
        for (int meter = 1; meter <= 2; ++meter) {
            std::int64_t wall = startWall + pick(3600);
            double level = 40 + pick(20);
            for (int n = 0; n < 1000; ++n) {
                switch (pick(60)) {
                case 0:
                    wall += 3600 * (1 + pick(4)); // hours without records
                    break;
                case 1:
                    wall += 600 + pick(1500); // a pause inside an hour, maybe a gap
                    break;
                case 2:
                    break; // the same time again
                default:
                    wall += 180 + (pick(4) == 0 ? pick(60) : 0);
                }
                level += (pick(5) - 2) * 0.25;
                HistoryRecord r;
                r.meterId = std::to_string(meter);
                r.createTime = stamp(wall);
                r.inletTemp = cell(level);
                r.outletTemp = cell(level - 8 + pick(3));
                r.flow = cell(level / 10);
                records_.push_back(r);
            }
        }
        std::shuffle(records_.begin(), records_.end(), random_);
        std::stable_sort(records_.begin(), records_.end(),
                         [](const HistoryRecord& a, const HistoryRecord& b) {
                             return a.createTime < b.createTime;
                         });
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    std::vector<HistoryRecord>& records() { return records_; }

  private:
    std::string cell(double value) {
        switch (pick(80)) {
        case 0:
            return "";
        case 1:
            return "E-1";
        default:
            return std::to_string(value).substr(0, 5);
        }
    }

    std::mt19937 random_;
    std::vector<HistoryRecord> records_;
};

// Logs the history in passes, some of them out of order, with rows other programs add, edit
// and delete, and builds in between; every other history starts as a file from before the
// hours, summed up again by the background build.
void writeHistory(const test::ProgramFolder& folder, RandomHistory& history, bool olderFile) {
    auto& records = history.records();
    HistoryWriter writer(folder.databasePath());
    writer.beforeCommit = [](Database& db) { ASSERT_TRUE(addNewRowsToDaySummaries(db)); };
    for (std::size_t at = 0; at < records.size();) {
        std::vector<HistoryRecord> pass(
            records.begin() + static_cast<std::ptrdiff_t>(at),
            records.begin() + static_cast<std::ptrdiff_t>(std::min(records.size(), at + 150)));
        at += pass.size();
        if (history.pick(10) == 0)
            std::swap(pass[0], pass[pass.size() / 2]); // written out of order
        writer.write(pass);
        ASSERT_TRUE(writer.flush(std::chrono::seconds(20)));
        if (history.pick(12) == 0)
            folder.exec("DELETE FROM Historydata WHERE ID % 97 = " +
                        std::to_string(history.pick(97)));
        if (history.pick(12) == 0)
            folder.exec("UPDATE Historydata SET TXTctemperature1 = '99.5' WHERE ID % 89 = 1");
        if (history.pick(4) == 0) {
            ASSERT_EQ(buildDaySummaries(folder.databasePath()), std::nullopt);
        }
    }
    if (olderFile) {
        folder.exec("DROP TABLE Historyhour");
        ASSERT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);
    }
    ASSERT_EQ(buildDaySummaries(folder.databasePath(), nullptr, 1000, 1 + history.pick(300)),
              std::nullopt);
    // A pass after the build, within the hours the build summed up last.
    std::vector<HistoryRecord> latest;
    for (const char* meter : {"1", "2"}) {
        const auto last = std::find_if(records.rbegin(), records.rend(),
                                       [&](const HistoryRecord& r) { return r.meterId == meter; });
        HistoryRecord r = *last;
        r.createTime.back() = r.createTime.back() == '9' ? '9' : r.createTime.back() + 1;
        r.inletTemp = r.outletTemp = r.flow = "-7.5";
        latest.push_back(r);
    }
    writer.write(latest);
    ASSERT_TRUE(writer.flush(std::chrono::seconds(20)));
    // Rows no logging pass has folded in yet.
    folder.exec("INSERT INTO Historydata (MeterID, TXTctemperature1, TXTctemperature2, "
                "MinuteAverage, CreateTime) SELECT MeterID, '1.5', '2.5', '3.5', CreateTime "
                "FROM Historydata WHERE ID % 211 = 5");
}

// On randomized histories, the summed-up hours drawn with the hours as bucket edges give
// exactly what every record gives under the same edges and gap threshold: the same runs of
// the same first, lowest, highest and last records per pixel, for any view and width.
TEST(TrendHours, DrawTheSameAsEveryRecordUnderTheSameEdges) {
    const struct {
        const char* zone;
        std::int64_t startWall;
    } histories[] = {
        {"Asia/Shanghai", 1748736000}, // 2025-06-01
        {"Europe/Berlin", 1743033600}, // 2025-03-27, the clocks go forward on the 30th
        {"UTC", 1761350400},           // 2025-10-25
        {"Asia/Shanghai", 1735689600}, // 2025-01-01
        {"Asia/Shanghai", 1751328000}, // 2025-07-01
        {"Europe/Berlin", 1761350400}, // 2025-10-25, the clocks go back on the 26th
    };
    int hoursUsed = 0;
    for (unsigned seed = 0; seed < std::size(histories); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        test::TimeZone zone(histories[seed].zone);
        test::ProgramFolder folder;
        RandomHistory history(seed, histories[seed].startWall);
        writeHistory(folder, history, seed % 2 == 1);
        if (testing::Test::HasFatalFailure())
            return;
        const std::int64_t start = histories[seed].startWall;
        for (int range = 0; range < 12; ++range) {
            std::string from = stamp(start + history.pick(4 * 86400));
            std::string to = stamp(start + history.pick(4 * 86400));
            if (to < from)
                std::swap(from, to);
            if (range == 0)
                from = stamp(start), to = stamp(start + 5 * 86400);
            const TrendQuantity& quantity = trendQuantities()[range % 3 == 0 ? 0 : 2];
            const HistorySelection selection =
                selectionFrom({std::to_string(1 + range % 2), from, to, ""});
            const TrendLoad rows = loadTrend(folder.databasePath(), selection, quantity);
            const TrendLoad hours =
                loadTrend(folder.databasePath(), selection, quantity, {}, nullptr, 1);
            ASSERT_EQ(rows.status, PassStatus::Done);
            ASSERT_EQ(hours.status, PassStatus::Done);
            ASSERT_EQ(hours.data.records, rows.data.records) << from << " .. " << to;
            if (hours.data.snapMs == 0) {
                EXPECT_EQ(hours.data.timesMs, rows.data.timesMs);
                continue;
            }
            hoursUsed += hours.data.timesMs.size() < rows.data.timesMs.size();
            const auto& r = rows.data;
            const auto& h = hours.data;
            LocalSeconds clock;
            const std::int64_t fromMs = *clock.of(from) * 1000, toMs = *clock.of(to) * 1000;
            for (int view = 0; view < 6; ++view) {
                std::int64_t a = fromMs + history.pick(1000) * (toMs - fromMs) / 1000;
                std::int64_t b = fromMs + history.pick(1000) * (toMs - fromMs) / 1000;
                if (view == 0)
                    a = fromMs, b = toMs;
                if (b < a)
                    std::swap(a, b);
                const int buckets = std::array{1, 7, 300, 1500, 20000}[history.pick(5)];
                for (std::size_t l = 0; l < r.lines.size(); ++l)
                    ASSERT_EQ(
                        reduceTrend(h.timesMs, h.lines[l], h.gapMs, a, b, buckets, h.joined,
                                    h.snapMs),
                        reduceTrend(r.timesMs, r.lines[l], h.gapMs, a, b, buckets, {}, h.snapMs))
                        << from << " .. " << to << " view " << a << ".." << b << " buckets "
                        << buckets << " line " << l;
            }
        }
    }
    EXPECT_GT(hoursUsed, 20);
}

TEST(TrendHours, GapThresholdOfRegularRecordsIsTheRowsOne) {
    test::TimeZone zone("Asia/Shanghai");
    test::ProgramFolder folder;
    {
        HistoryWriter writer(folder.databasePath());
        writer.beforeCommit = [](Database& db) { addNewRowsToDaySummaries(db); };
        std::vector<HistoryRecord> records;
        for (std::int64_t wall = 1748736000; wall < 1748736000 + 2 * 86400; wall += 120) {
            HistoryRecord r;
            r.meterId = "3";
            r.createTime = stamp(wall);
            r.inletTemp = r.outletTemp = std::to_string(wall % 7);
            r.flow = "1";
            records.push_back(r);
        }
        writer.write(records);
        ASSERT_TRUE(writer.flush(std::chrono::seconds(20)));
    }
    const HistorySelection selection =
        selectionFrom({"3", "2025-06-01 00:30", "2025-06-02 23:00", ""});
    const TrendQuantity& temperatures = trendQuantities()[2];
    const TrendLoad rows = loadTrend(folder.databasePath(), selection, temperatures);
    const TrendLoad hours =
        loadTrend(folder.databasePath(), selection, temperatures, {}, nullptr, 1);
    EXPECT_EQ(hours.data.gapMs, 240000);
    EXPECT_EQ(hours.data.gapMs, rows.data.gapMs);
    EXPECT_EQ(hours.data.records, rows.data.records);
    EXPECT_LT(hours.data.timesMs.size() * 5, rows.data.timesMs.size());
    // An hour counts as its spacings' mean, as many times as it has spacings.
    EXPECT_EQ(weightedGapThresholdMs({{60000, 3}, {1000, 1}, {5000, 1}}), 120000);
    EXPECT_EQ(weightedGapThresholdMs({{60000, 1}, {1000, 1}, {5000, 2}}), 10000);
    EXPECT_EQ(weightedGapThresholdMs({}), 0);
}

} // namespace
} // namespace mirv
