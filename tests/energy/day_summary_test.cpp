#include "create_database.h"
#include "database.h"
#include "day_summary_store.h"
#include "energy_use.h"
#include "history_writer.h"
#include "program_folder.h"
#include "time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

namespace mirv {

void PrintTo(const MeterEnergy& m, std::ostream* os) {
    *os << m.meterId << " " << m.firstTime << ".." << m.lastTime << " records " << m.records
        << " gap " << m.longestGapSeconds << " back " << m.stepBacks << " uses";
    for (Fixed u : m.uses)
        *os << " " << static_cast<long long>(u);
}

namespace {

// Runs the test in a zone that changes its offset within the history (on 2025-03-30).
struct BerlinTime : test::TimeZone {
    BerlinTime() : TimeZone("Europe/Berlin") {}
};

std::string twoDigits(int v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

// A random history of four days around a change of daylight saving time: several meters,
// records minutes to hours apart and out of order, cells empty or no number, totals that
// fall back (a replaced meter), times that read as no time, and records of no meter.
class RandomHistory {
  public:
    explicit RandomHistory(unsigned seed) : random_(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string time() {
        const int day = 28 + pick(4);
        std::string text = "2025-03-" + twoDigits(day) + " " + twoDigits(pick(24)) + ":" +
                           twoDigits(pick(60)) + ":" + twoDigits(pick(3) * 20);
        switch (pick(40)) {
        case 0:
            return text.substr(0, 11) + "25:00:00"; // no time
        case 1:
            return text.substr(0, 10); // the day alone
        case 2:
            return text.substr(0, 11) + "7:05"; // read by the query's date parser
        default:
            return text;
        }
    }

    std::string total(int meter, int t) {
        switch (pick(12)) {
        case 0:
            return "";
        case 1:
            return "E-1";
        case 2:
            return std::to_string(pick(5)) + ".5"; // a fall back
        default:
            level_[meter][t] += pick(3) * 0.25;
            return std::to_string(static_cast<long long>(level_[meter][t] * 100)) + "." +
                   twoDigits(pick(100));
        }
    }

    HistoryRecord record() {
        const int meter = 1 + pick(3);
        HistoryRecord r;
        r.meterId = std::to_string(meter == 3 ? 10 : meter);
        r.heatTotal = total(meter, 0);
        r.coldTotal = total(meter, 1);
        r.forwardTotal = total(meter, 2);
        r.reverseTotal = total(meter, 3);
        r.createTime = time();
        return r;
    }

  private:
    std::mt19937 random_;
    double level_[4][4] = {};
};

std::string insertSql(const HistoryRecord& r, bool noMeter) {
    auto quoted = [](const std::string& s) { return "'" + s + "'"; };
    return "INSERT INTO Historydata (MeterID, TXTleijire_z, TXTleijileng_z, Foward, Reverse, "
           "CreateTime) VALUES (" +
           (noMeter ? std::string("NULL") : quoted(r.meterId)) + ", " + quoted(r.heatTotal) + ", " +
           quoted(r.coldTotal) + ", " + quoted(r.forwardTotal) + ", " + quoted(r.reverseTotal) +
           ", " + quoted(r.createTime) + ")";
}

std::int64_t count(const test::ProgramFolder& folder, const std::string& sql) {
    Database db(folder.databasePath());
    Statement q(db, sql);
    return q.step() ? q.integer(0) : -1;
}

// Writes the history the ways it gets written: logging passes in batches, rows added, edited
// and deleted by other programs, and, every other history, a database that had no summaries
// until the background build made them.
void writeHistory(const test::ProgramFolder& folder, RandomHistory& history, bool olderDatabase) {
    if (olderDatabase)
        folder.exec("DROP TRIGGER Historyday_deleted; DROP TRIGGER Historyday_updated; "
                    "DROP TABLE Historyday; DROP TABLE HistorydayStale; "
                    "DROP TABLE HistorydayProgress");
    {
        HistoryWriter writer(folder.databasePath());
        writer.beforeCommit = [](Database& db) { ASSERT_TRUE(addNewRowsToDaySummaries(db)); };
        for (int pass = 0; pass < 12; ++pass) {
            std::vector<HistoryRecord> records;
            for (int n = history.pick(30); n > 0; --n)
                records.push_back(history.record());
            writer.write(records);
            ASSERT_TRUE(writer.flush(std::chrono::seconds(20)));
            if (history.pick(4) == 0)
                folder.exec(insertSql(history.record(), history.pick(3) == 0));
            if (history.pick(4) == 0)
                folder.exec("DELETE FROM Historydata WHERE ID % 7 = " +
                            std::to_string(history.pick(7)));
            if (history.pick(6) == 0)
                folder.exec("UPDATE Historydata SET Foward = '0.00' WHERE ID % 9 = 1");
            if (history.pick(6) == 0) {
                ASSERT_EQ(
                    buildDaySummaries(folder.databasePath(), nullptr, 1000, 1 + history.pick(40)),
                    std::nullopt);
            }
        }
    }
    if (olderDatabase) {
        ASSERT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);
        ASSERT_EQ(buildDaySummaries(folder.databasePath(), nullptr, 1000, 1 + history.pick(40)),
                  std::nullopt);
        EXPECT_EQ(count(folder, "SELECT count(*) FROM HistorydayStale"), 0);
    }
}

TEST(DaySummaries, EnergyIsTheRowPassForAnyRange) {
    BerlinTime zone;
    int fromSummaries = 0;
    for (unsigned seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        test::ProgramFolder folder;
        RandomHistory history(seed);
        writeHistory(folder, history, seed % 2 == 0);
        if (testing::Test::HasFatalFailure())
            return;
        ASSERT_EQ(count(folder, "SELECT count(*) FROM HistorydayProgress WHERE Through IS NULL"),
                  1);
        for (int range = 0; range < 40; ++range) {
            std::string from = history.time(), to = history.time();
            if (to < from)
                std::swap(from, to);
            const std::string meter = history.pick(4) == 0 ? "2" : "全部";
            const HistorySelection selection = selectionFrom({meter, from, to, ""});
            const EnergyUse rows =
                computeEnergyUse(folder.databasePath(), selection, {}, nullptr, EnergySource::Rows);
            const EnergyUse days = computeEnergyUse(folder.databasePath(), selection);
            ASSERT_EQ(rows.status, PassStatus::Done);
            ASSERT_EQ(days.status, PassStatus::Done);
            EXPECT_EQ(days.meters, rows.meters) << meter << " " << from << " .. " << to;
            fromSummaries += from.substr(0, 10) < to.substr(0, 10);
        }
    }
    EXPECT_GT(fromSummaries, 100);
}

} // namespace
} // namespace mirv
