#include "database.h"
#include "day_summary_store.h"
#include "energy_table.h"
#include "energy_use.h"
#include "program_folder.h"
#include "time_zone.h"
#include "trend_data.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

// The local texts of `count` records five minutes apart from `day` `hour`:`minute` on, as a
// clock that shows them writes them.
std::vector<std::string> fiveMinutesApart(const std::string& day, int hour, int minute, int count) {
    std::vector<std::string> texts;
    for (int m = hour * 60 + minute; count-- > 0; m += 5) {
        char text[32];
        std::snprintf(text, sizeof text, "%s %02d:%02d:00", day.c_str(), m / 60, m % 60);
        texts.push_back(text);
    }
    return texts;
}

struct HourRow {
    const char* hour;
    std::int64_t records, steps, longestStep;
    const char* lines;
    std::int64_t firstId, lastId;
};

// A night of 96 records of meter 1 written five minutes apart in true time, the heat total
// 1000.00 kWh at the first and 1 kWh more at each: where the local time repeats, text order
// interleaves what written order keeps apart.
struct Night {
    const char* name;
    const char* zone;
    const char* day;
    const char* dayBefore;
    const char* dayAfter;
    std::vector<std::pair<std::pair<int, int>, int>> runs; // from hour:minute, how many
    std::int64_t firstSecond;                              // the first record's true time
    int heldFrom, heldTo;   // records in [from, to) stand at the time of the one before them
    std::int64_t storedGap; // the day's longest gap in wall-clock seconds, as stored
    const char* lastTime;
    std::vector<HourRow> hours;
};

// Only the heat total has numbers: every other line of an hour is broken ('-').
std::string heatOnly(const char* heat) {
    return std::string("-;-;-;-;-;-;-;") + heat + ";-";
}

const Night kNights[] = {
    {"the clocks go back, Europe/Berlin",
     "Europe/Berlin",
     "2026-10-25",
     "2026-10-24",
     "2026-10-26",
     {{{0, 0}, 36}, {{2, 0}, 60}},
     1792879200, // 2026-10-24 22:00:00 UTC
     0,
     0,
     300,
     "2026-10-25 06:55:00",
     {{"2026-10-25 02", 24, 0, 0, "", 25, 48},
      {"2026-10-25 03", 12, 11, 300, "10480000 10590000 = =", 49, 60}}},
    {"the clocks go back half an hour, Australia/Lord_Howe",
     "Australia/Lord_Howe",
     "2026-04-05",
     "2026-04-04",
     "2026-04-06",
     {{{0, 0}, 24}, {{1, 30}, 72}},
     1775307600, // 2026-04-04 13:00:00 UTC
     0,
     0,
     300,
     "2026-04-05 07:25:00",
     {{"2026-04-05 01", 18, 0, 0, "", 13, 30},
      {"2026-04-05 02", 12, 11, 300, "10300000 10410000 = =", 31, 42}}},
    {"a clock set back an hour by hand, UTC",
     "UTC",
     "2026-10-25",
     "2026-10-24",
     "2026-10-26",
     {{{0, 0}, 42}, {{2, 30}, 54}},
     1792886400, // 2026-10-25 00:00:00 UTC
     42,
     54,
     300,
     "2026-10-25 06:55:00",
     {{"2026-10-25 02", 18, 0, 0, "", 25, 48},
      {"2026-10-25 03", 18, 0, 0, "", 37, 60},
      {"2026-10-25 04", 12, 11, 300, "10600000 10710000 = =", 61, 72}}},
    {"the clocks go forward, Europe/Berlin",
     "Europe/Berlin",
     "2026-03-29",
     "2026-03-28",
     "2026-03-30",
     {{{0, 0}, 24}, {{3, 0}, 72}},
     1774738800, // 2026-03-28 23:00:00 UTC
     0,
     0,
     3900,
     "2026-03-29 08:55:00",
     {{"2026-03-29 01", 12, 11, 300, "10120000 10230000 = =", 13, 24},
      {"2026-03-29 03", 12, 11, 300, "10240000 10350000 = =", 25, 36}}},
};

void writeNight(const test::ProgramFolder& folder, const Night& night) {
    std::vector<std::string> times;
    for (const auto& [from, count] : night.runs)
        for (std::string& t : fiveMinutesApart(night.day, from.first, from.second, count))
            times.push_back(std::move(t));
    ASSERT_EQ(times.size(), 96u);
    // Two logging passes, each folding its rows into the summaries.
    Database db(folder.databasePath());
    for (std::size_t at = 0; at < times.size();) {
        ASSERT_TRUE(db.exec("BEGIN IMMEDIATE"));
        for (const std::size_t end = at == 0 ? 50 : times.size(); at < end; ++at) {
            Statement insert(db, "INSERT INTO Historydata (MeterID, TXTleijire_z, CreateTime) "
                                 "VALUES ('1', ?1, ?2)");
            insert.bind(1, std::to_string(1000 + at) + ".00");
            insert.bind(2, times[at]);
            insert.step();
            ASSERT_FALSE(insert.failed()) << db.error();
        }
        ASSERT_TRUE(addNewRowsToDaySummaries(db)) << db.error();
        ASSERT_TRUE(db.exec("COMMIT"));
    }
}

void expectSummaries(const test::ProgramFolder& folder, const Night& night) {
    Database db(folder.databasePath());
    Statement day(db, "SELECT Records, FirstTime, LastTime, LongestGap, StepBacks, Totals, "
                      "FirstID, LastID FROM Historyday WHERE Day = ?1 AND MeterID = '1'");
    day.bind(1, std::string(night.day));
    ASSERT_TRUE(day.step());
    EXPECT_EQ(day.integer(0), 96);
    EXPECT_EQ(day.text(1), std::string(night.day) + " 00:00:00");
    EXPECT_EQ(day.text(2), night.lastTime);
    EXPECT_EQ(day.integer(3), night.storedGap);
    EXPECT_EQ(day.integer(4), 0);
    EXPECT_EQ(day.text(5), "10000000 10950000 950000 0 0;;;");
    EXPECT_EQ(day.integer(6), 1);
    EXPECT_EQ(day.integer(7), 96);
    for (const HourRow& h : night.hours) {
        Statement hour(db, "SELECT Records, Steps, LongestStep, Lines, FirstID, LastID "
                           "FROM Historyhour WHERE MeterID = '1' AND Hour = ?1");
        hour.bind(1, std::string(h.hour));
        ASSERT_TRUE(hour.step()) << h.hour;
        EXPECT_EQ(hour.integer(0), h.records) << h.hour;
        EXPECT_EQ(hour.integer(1), h.steps) << h.hour;
        EXPECT_EQ(hour.integer(2), h.longestStep) << h.hour;
        EXPECT_EQ(hour.text(3), *h.lines ? heatOnly(h.lines) : "") << h.hour;
        EXPECT_EQ(hour.integer(4), h.firstId) << h.hour;
        EXPECT_EQ(hour.integer(5), h.lastId) << h.hour;
    }
}

// The energy table's cells: records, heat used, longest gap in minutes, step-backs.
std::vector<std::string> energyCells(const test::ProgramFolder& folder, const HistorySelection& s,
                                     EnergySource source) {
    const EnergyUse use = computeEnergyUse(folder.databasePath(), s, {}, nullptr, source);
    EXPECT_EQ(use.status, PassStatus::Done) << use.error;
    if (use.meters.size() != 1)
        return {};
    const auto row = energyTableTexts(use.meters, {})[0];
    return {row[3], row[4], row[8], row[9]};
}

TEST(WrittenOrder, EnergySummariesAndTrendFollowTrueTimeInEveryZone) {
    for (const Night& night : kNights) {
        SCOPED_TRACE(night.name);
        test::TimeZone zone(night.zone);
        test::ProgramFolder folder;
        writeNight(folder, night);
        if (testing::Test::HasFatalFailure())
            return;
        expectSummaries(folder, night);
        // Summed up again from the rows, twice: the same summaries.
        for (int again = 0; again < 2; ++again) {
            folder.exec("UPDATE Historydata SET Foward = Foward WHERE ID = 1");
            ASSERT_EQ(buildDaySummaries(folder.databasePath()), std::nullopt);
            expectSummaries(folder, night);
        }

        const std::vector<std::string> expected = {"96", "95.00", "5.0", "0"};
        const std::string day = night.day;
        for (const auto& [from, to] : {std::pair<std::string, std::string>{day, day + " 23:59:59"},
                                       {night.dayBefore, night.dayAfter}})
            for (const EnergySource source : {EnergySource::DaySummaries, EnergySource::Rows})
                EXPECT_EQ(energyCells(folder, selectionFrom({"1", from, to, ""}), source), expected)
                    << from << " .. " << to;

        const TrendLoad trend =
            loadTrend(folder.databasePath(), selectionFrom({"1", day, day + " 23:59:59", ""}),
                      trendQuantities()[7]);
        ASSERT_EQ(trend.status, PassStatus::Done);
        ASSERT_EQ(trend.data.timesMs.size(), 96u);
        ASSERT_EQ(trend.data.lines.size(), 1u);
        for (int k = 0; k < 96; ++k) {
            const int step = k < night.heldFrom ? k
                             : k < night.heldTo ? night.heldFrom - 1
                                                : k - (night.heldTo - night.heldFrom);
            EXPECT_EQ(trend.data.timesMs[k], (night.firstSecond + 300 * step) * 1000) << k;
            EXPECT_EQ(trend.data.lines[0][k], 1000.0 + k) << k;
        }
    }
}

} // namespace
} // namespace mirv
