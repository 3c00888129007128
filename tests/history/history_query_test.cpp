#include "database.h"
#include "date_time_text.h"
#include "history_query.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace mirv {
namespace {

// A history of known rows: meter 1 every minute from 00:00 to 01:59 on 2026-03-04, meter 2
// twice in minute 00:10 and once at 00:11, meter 3 around midnight of the 5th, meter 4 twice
// in the same second.
class KnownHistory : public testing::Test {
  protected:
    void SetUp() override {
        std::string sql = "BEGIN;";
        auto add = [&](const char* meter, const std::string& time, const char* flow = "1.0000") {
            sql += std::string(
                       "INSERT INTO Historydata (MeterID, MinuteAverage, CreateTime) VALUES ('") +
                   meter + "', '" + flow + "', '" + time + "');";
        };
        for (int m = 0; m < 120; ++m) {
            char t[32];
            std::snprintf(t, sizeof t, "2026-03-04 %02d:%02d:00", m / 60, m % 60);
            add("1", t);
        }
        add("2", "2026-03-04 00:10:00");
        add("2", "2026-03-04 00:10:30");
        add("2", "2026-03-04 00:11:00");
        add("3", "2026-03-03 23:59:59");
        add("3", "2026-03-05 00:00:00");
        add("3", "2026-03-05 00:00:01");
        add("4", "2026-03-04 00:20:05", "written first");
        add("4", "2026-03-04 00:20:05", "written second");
        folder.exec(sql + "COMMIT;");
    }

    HistoryRows query(const std::string& meter, const std::string& from, const std::string& to,
                      const std::string& step) {
        return queryHistory(folder.databasePath(), selectionFrom({meter, from, to, step}));
    }

    test::ProgramFolder folder;
};

TEST(QueryCriteria, StepFromText) {
    const struct {
        const char* text;
        int step;
    } cases[] = {
        {"10", 10},  {" 7 ", 7}, {"2.5", 2},       {"3.5", 4},   {"-7", -7},         {"", 0},
        {"abc", 0},  {"0", 0},   {"32767", 32767}, {"32768", 0}, {"-32768", -32768}, {"-32769", 0},
        {"1e1", 10}, {"nan", 0}, {"inf", 0},       {"5x", 0},    {"0.5", 0},         {"1.5", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stepFrom(c.text), c.step) << '"' << c.text << '"';
}

TEST(QueryCriteria, DateTimeTexts) {
    const struct {
        const char* text;
        const char* stored; // nullptr: no such date
    } cases[] = {
        {"2026-03-04", "2026-03-04 00:00:00"},
        {"2026/3/4", "2026-03-04 00:00:00"},
        {"2026-3-04 8:05", "2026-03-04 08:05:00"},
        {"2026-03-04 23:59:59", "2026-03-04 23:59:59"},
        {"2024-02-29", "2024-02-29 00:00:00"},
        {"2026-02-29", nullptr},
        {"2026-13-01", nullptr},
        {"2026-00-10", nullptr},
        {"abc", nullptr},
        {"", nullptr},
        {"2026-03-04 24:00", nullptr},
        {"2026-03-04 12", nullptr},
        {"2026-03/04", nullptr},
        {"26-03-04", nullptr},
        {"2026-03-04x", nullptr},
        {"2026-03-04 10:61", nullptr},
    };
    for (const auto& c : cases) {
        const auto parsed = parseDateTimeText(c.text);
        if (c.stored)
            EXPECT_EQ(parsed, std::optional<std::string>(c.stored)) << c.text;
        else
            EXPECT_EQ(parsed, std::nullopt) << c.text;
    }
}

TEST_F(KnownHistory, CriteriaSelectRows) {
    const struct {
        const char* name;
        const char* meter;
        const char* from;
        const char* to;
        const char* step;
        std::size_t rows;
    } cases[] = {
        {"step 1 is every row", "全部", "2026-03-04", "2026-03-05", "1", 126},
        {"step 7", "全部", "2026-03-04", "2026-03-05", "7", 19},
        {"step 60 is minute 0", "全部", "2026-03-04", "2026-03-05", "60", 3},
        {"step 100 is minute 0", "全部", "2026-03-04", "2026-03-05", "100", 3},
        {"step 0", "全部", "2026-03-04", "2026-03-05", "0", 0},
        {"empty step", "全部", "2026-03-04", "2026-03-05", "", 0},
        {"step abc", "全部", "2026-03-04", "2026-03-05", "abc", 0},
        {"step 2.5 acts as 2", "全部", "2026-03-04", "2026-03-05", "2.5", 65},
        {"step 3.5 acts as 4", "全部", "2026-03-04", "2026-03-05", "3.5", 33},
        {"negative step", "全部", "2026-03-04", "2026-03-05", "-7", 19},
        {"empty meter is all", "", "2026-03-04", "2026-03-05", "1", 126},
        {"blank before 全部 is a meter", " 全部", "2026-03-04", "2026-03-05", "1", 0},
        {"meter trimmed", " 3 ", "2026-03-04", "2026-03-05", "1", 1},
        {"meter 2", "2", "2026-03-04", "2026-03-05", "1", 3},
        {"from with a time of day", "1", "2026-03-04 01:30", "2026-03-05", "1", 30},
        {"slashes and one-digit parts", "3", "2026/3/3", "2026/3/4", "1", 1},
        {"from after to", "全部", "2026-03-05", "2026-03-04", "1", 0},
        {"no such date", "全部", "2026-02-30", "2026-03-05", "1", 0},
        {"not a date", "全部", "yesterday", "2026-03-05", "1", 0},
        {"quote in the meter", "1' OR '1'='1", "2026-03-04", "2026-03-05", "1", 0},
        {"SQL in the meter", "'; DROP TABLE Historydata; --", "2026-03-04", "2026-03-05", "1", 0},
        {"SQL in a bound", "全部", "2026-03-04' OR 1=1 --", "2026-03-05", "1", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(query(c.meter, c.from, c.to, c.step).size(), c.rows) << c.name;
    EXPECT_EQ(query("全部", "2026-03-01", "2026-03-09", "1").size(), 128u) << "table intact";
}

TEST_F(KnownHistory, MidnightOfTheToDateIsIncludedAndOneSecondLaterIsNot) {
    const HistoryRows rows = query("3", "2026-03-04", "2026-03-05", "1");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.cell(0, 12), "2026-03-05 00:00:00");
}

TEST_F(KnownHistory, RowsComeInTimeThenWriteOrderWithAllColumns) {
    const HistoryRows step10 = query("2", "2026-03-04", "2026-03-05", "10");
    ASSERT_EQ(step10.size(), 2u);
    EXPECT_EQ(step10.cell(0, 12), "2026-03-04 00:10:00");
    EXPECT_EQ(step10.cell(1, 12), "2026-03-04 00:10:30");

    const HistoryRows sameSecond = query("4", "2026-03-04", "2026-03-05", "1");
    ASSERT_EQ(sameSecond.size(), 2u);
    EXPECT_EQ(sameSecond.cell(0, 2), "written first");
    EXPECT_EQ(sameSecond.cell(1, 2), "written second");
    EXPECT_EQ(sameSecond.cell(0, 1), "4");
    EXPECT_LT(std::stoi(std::string(sameSecond.cell(0, 0))),
              std::stoi(std::string(sameSecond.cell(1, 0))));
    EXPECT_EQ(sameSecond.cell(0, 11), ""); // Alarmstatus never written: empty
}

TEST_F(KnownHistory, MissingDatabaseGivesNoRows) {
    std::filesystem::remove(folder.databasePath());
    EXPECT_TRUE(query("全部", "2026-03-04", "2026-03-05", "1").empty());
    EXPECT_FALSE(std::filesystem::exists(folder.databasePath()));
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

TEST(UpgradeDatabase, AddsTheIndexesToAnOlderDatabase) {
    test::ProgramFolder folder;
    folder.exec("DROP INDEX Historydata_CreateTime; DROP INDEX Historydata_MeterID_CreateTime;"
                "PRAGMA journal_mode = DELETE;");
    EXPECT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);
    Database db(folder.databasePath());
    Statement q(db, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                    "('Historydata_CreateTime', 'Historydata_MeterID_CreateTime')");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.integer(0), 2);
    Statement mode(db, "PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
    EXPECT_NE(upgradeDatabase(folder.path() + "/missing.mdb"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/missing.mdb"));
}

} // namespace
} // namespace mirv
