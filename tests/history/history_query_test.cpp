#include "create_database.h"
#include "database.h"
#include "date_time_text.h"
#include "history_query.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <cctype>
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
                "DROP INDEX Historydata_Minute_CreateTime; PRAGMA journal_mode = DELETE;");
    EXPECT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);
    Database db(folder.databasePath());
    Statement q(db, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                    "('Historydata_CreateTime', 'Historydata_MeterID_CreateTime', "
                    "'Historydata_Minute_CreateTime')");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.integer(0), 3);
    Statement mode(db, "PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
    EXPECT_NE(upgradeDatabase(folder.path() + "/missing.mdb"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/missing.mdb"));
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

std::vector<std::int64_t> idsOf(const HistoryRows& rows) {
    std::vector<std::int64_t> ids;
    for (std::size_t r = 0; r < rows.size(); ++r)
        ids.push_back(std::stoll(std::string(rows.cell(r, 0))));
    return ids;
}

// The minute filter as the station has always meant it, written as the plain condition on
// every row: the selection must find exactly these rows in this order, however it finds them.
std::vector<std::int64_t> byDefinition(const test::ProgramFolder& folder, int step,
                                       const char* from, const char* to, const char* meter) {
    Database db(folder.databasePath());
    Statement q(db, std::string("SELECT ID FROM Historydata WHERE "
                                "CAST(substr(CreateTime, 15, 2) AS INTEGER) % ?1 = 0 "
                                "AND CreateTime BETWEEN ?2 AND ?3 ") +
                        (meter ? "AND MeterID = ?4 " : "") + "ORDER BY CreateTime, ID");
    q.bind(1, std::int64_t{step});
    q.bind(2, *parseDateTimeText(from));
    q.bind(3, *parseDateTimeText(to));
    if (meter)
        q.bind(4, std::string_view(meter));
    std::vector<std::int64_t> ids;
    while (q.step())
        ids.push_back(q.integer(0));
    return ids;
}

// Rows every minute across a year's end for two meters, written newest first, with rows whose
// time is not in the stored form among them.
TEST(HistoryQuery, MinuteStepsSelectTheSameRowsInTheSameOrder) {
    test::ProgramFolder folder;
    std::string sql = "BEGIN;";
    auto add = [&](const char* meter, const std::string& time) {
        sql += std::string("INSERT INTO Historydata (MeterID, CreateTime) VALUES ('") + meter +
               "', '" + time + "');";
    };
    for (int m = 3 * 60 - 1; m >= 0; --m) { // 2025-12-31 22:00 .. 2026-01-01 00:59
        const int day = m < 120 ? 31 : 1, hour = (22 + m / 60) % 24, minute = m % 60;
        char t[32];
        std::snprintf(t, sizeof t, "%s-%02d %02d:%02d:%02d", day == 31 ? "2025-12" : "2026-01", day,
                      hour, minute, m % 7 == 0 ? 30 : 0);
        add(m % 3 == 0 ? "2" : "1", t);
    }
    for (const char* odd : {"2025-12-31 23:5:00", "2025-12-31 23:-5:00", "2025-12-31 23:", "x"})
        add("1", odd);
    folder.exec(sql + "COMMIT;");

    const struct {
        const char* from;
        const char* to;
        const char* meter;
    } ranges[] = {
        {"2025-12-31 22:30", "2025-12-31 23:29", nullptr}, // across an hour
        {"2025-12-31", "2026-01-02", nullptr},             // across the day and the year
        {"2025-12-31 23:00", "2026-01-01 00:30", "1"},     // one meter, across the year
        {"2026-01-01", "2026-01-01 00:00:30", nullptr},    // one minute
    };
    std::vector<int> steps{-7};
    for (int step = 1; step <= 60; ++step)
        steps.push_back(step);
    for (const auto& r : ranges) {
        for (int step : steps) {
            const auto rows = queryHistory(
                folder.databasePath(),
                selectionFrom({r.meter ? r.meter : "全部", r.from, r.to, std::to_string(step)}));
            EXPECT_EQ(idsOf(rows), byDefinition(folder, step, r.from, r.to, r.meter))
                << r.from << " .. " << r.to << " step " << step;
        }
    }
    EXPECT_EQ(idsOf(queryHistory(folder.databasePath(),
                                 selectionFrom({"全部", "2025-12-31", "2026-01-02", "1"})))
                  .size(),
              183u);
}

TEST(Schema, ShipsOneDefaultSettingsRow) {
    test::ProgramFolder folder;
    Database db(folder.databasePath());
    Statement q(db, R"(SELECT "timer", "minute", "com", typeof("com"), "Settings", "num",
                              (SELECT count(*) FROM mirve) FROM mirve)");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.text(0), "2000");
    EXPECT_EQ(q.text(1), "1");
    EXPECT_EQ(q.integer(2), 1);
    EXPECT_EQ(q.text(3), "integer");
    EXPECT_EQ(q.text(4), "9600");
    EXPECT_EQ(q.text(5), "1");
    EXPECT_EQ(q.integer(6), 1);
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

// The tables, indexes and triggers of the shipped schema, each with its statement in one line.
std::vector<std::string> schemaObjects(const std::string& path) {
    Database db(path);
    Statement q(db, "SELECT type, name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' "
                    "ORDER BY type, name");
    std::vector<std::string> objects;
    while (q.step()) {
        std::string sql;
        for (const char c : std::string(q.text(2)))
            if (!std::isspace(static_cast<unsigned char>(c)) || (!sql.empty() && sql.back() != ' '))
                sql += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
        objects.push_back(std::string(q.text(0)) + " " + std::string(q.text(1)) + ": " + sql);
    }
    return objects;
}

// A file made before the summaries, the line's health and the indexes ends up with what a new
// file gets from the schema: the upgrade's statements and the schema's cannot drift apart.
TEST(UpgradeDatabase, GivesAnOlderDatabaseWhatTheSchemaGivesANewOne) {
    test::ProgramFolder fresh;
    const std::vector<std::string> expected = schemaObjects(fresh.databasePath());
    ASSERT_GT(expected.size(), 5u);

    test::ProgramFolder older;
    std::string drops;
    for (const std::string& object : expected) {
        const std::string type = object.substr(0, object.find(' '));
        const std::string name = object.substr(type.size() + 1, object.find(':') - type.size() - 1);
        if (name != "mirve" && name != "Historydata")
            drops += "DROP " + type + " IF EXISTS " + name + ";";
    }
    older.exec(drops);
    ASSERT_LT(schemaObjects(older.databasePath()).size(), expected.size());
    ASSERT_EQ(upgradeDatabase(older.databasePath()), std::nullopt);
    EXPECT_EQ(schemaObjects(older.databasePath()), expected);

    // A file whose days were summed up before there were hours: it gets the hours, the trigger
    // that also watches the trend's columns, and all its days to sum up again.
    test::ProgramFolder daysOnly;
    daysOnly.exec(R"(DROP TABLE Historyhour; DROP TABLE HistoryhourOpen;
        DROP TRIGGER Historyday_updated;
        CREATE TRIGGER Historyday_updated
            AFTER UPDATE OF ID, MeterID, CreateTime, Foward, Reverse, TXTleijire_z, TXTleijileng_z
            ON Historydata
        BEGIN
            INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
                VALUES (substr(NEW.CreateTime, 1, 10), CAST(NEW.MeterID AS TEXT));
        END;
        INSERT INTO Historydata (MeterID, CreateTime) VALUES ('1', '2025-03-01 08:00:00');)");
    ASSERT_EQ(upgradeDatabase(daysOnly.databasePath()), std::nullopt);
    EXPECT_EQ(schemaObjects(daysOnly.databasePath()), expected);
    Database db(daysOnly.databasePath());
    Statement through(db, "SELECT Through FROM HistorydayProgress");
    ASSERT_TRUE(through.step());
    EXPECT_EQ(through.text(0), "");
    EXPECT_FALSE(through.isNull(0));

    // A file whose summaries know no row IDs (taken in time-text order): made anew and every
    // day summed up again.
    test::ProgramFolder textOrder;
    textOrder.exec(R"(DROP TABLE Historyday; DROP TABLE Historyhour;
        CREATE TABLE Historyday (Day TEXT NOT NULL, MeterID TEXT NOT NULL,
            Records INTEGER NOT NULL, FirstTime TEXT NOT NULL, LastTime TEXT NOT NULL,
            FirstWall INTEGER, LastWall INTEGER, LongestGap INTEGER NOT NULL,
            StepBacks INTEGER NOT NULL, Totals TEXT NOT NULL, PRIMARY KEY (Day, MeterID))
            WITHOUT ROWID;
        CREATE TABLE Historyhour (MeterID TEXT NOT NULL, Hour TEXT NOT NULL,
            Records INTEGER NOT NULL, FirstWall INTEGER NOT NULL, LastWall INTEGER NOT NULL,
            Steps INTEGER NOT NULL, LongestStep INTEGER NOT NULL, Lines TEXT NOT NULL,
            PRIMARY KEY (MeterID, Hour)) WITHOUT ROWID;
        INSERT INTO Historydata (MeterID, CreateTime) VALUES ('1', '2025-03-01 08:00:00');
        INSERT INTO Historyday VALUES ('2025-03-01', '1', 1, '', '', NULL, NULL, 0, 0, ';;;');
        INSERT INTO HistoryhourOpen VALUES ('1', '2025-03-01 08');)");
    ASSERT_EQ(upgradeDatabase(textOrder.databasePath()), std::nullopt);
    EXPECT_EQ(schemaObjects(textOrder.databasePath()), expected);
    Database upgraded(textOrder.databasePath());
    Statement left(upgraded, "SELECT (SELECT count(*) FROM Historyday) + (SELECT count(*) FROM "
                             "HistoryhourOpen), (SELECT Through FROM HistorydayProgress)");
    ASSERT_TRUE(left.step());
    EXPECT_EQ(left.integer(0), 0);
    EXPECT_EQ(left.text(1), "");
}

} // namespace
} // namespace mirv
