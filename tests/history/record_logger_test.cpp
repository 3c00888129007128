#include "compose_row.h"
#include "database.h"
#include "program_folder.h"
#include "record_logger.h"
#include "record_tick.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace mirv {
namespace {

using Row = std::vector<std::string>;

std::vector<Row> history(const test::ProgramFolder& f) {
    Database db(f.databasePath());
    Statement q(db, "SELECT MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, "
                    "TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, "
                    "Alarmstatus, CreateTime FROM Historydata ORDER BY ID");
    std::vector<Row> rows;
    while (q.step()) {
        Row r;
        for (int c = 0; c < 12; ++c)
            r.push_back(q.text(c));
        rows.push_back(r);
    }
    return rows;
}

struct Logging {
    test::ProgramFolder folder;
    ReadingsBoard board;
    RecordLogger logger{folder.databasePath(), board};
    int stamp = 0;

    Logging() {
        logger.now = [this] { return "2026-03-04 05:0" + std::to_string(stamp++ % 10) + ":00"; };
    }
    void answered(int n, const RegisterMap& m) {
        board.setRow(n, composeRow(m));
        board.setAnswered(n, true);
    }
};

TEST(RecordLogging, OneRowPerAnsweringMeterInMeterOrder) {
    Logging l;
    l.answered(5, {.flowRate = 5.5f, .inletTemp = 350.0f, .outletTemp = 40.0f});
    l.answered(1, {.flowRate = 1.25f, .forwardInt = 123456, .forwardFrac = 0.75f, .flowSpeed = 3});
    l.answered(2, {.exciteAlarm = 1,
                   .inletTemp = 61.5f,
                   .heatPower = 2.5f,
                   .heatTotalLow = 5,
                   .heatTotalHigh = 2,
                   .heatTotalFrac = 0.5f});
    l.answered(3, {});
    l.board.clearRow(3); // meter 3 missed its last poll
    l.board.setAnswered(3, false);
    l.logger.recordAll();
    const std::vector<Row> expected{
        {"1", "1.2500", "123456.75", "0.00", "0.00", "0.00", "0.0000", "0.0000", "0.00", "0.00",
         "通讯正常", "2026-03-04 05:00:00"},
        {"2", "0.0000", "0.00", "0.00", "61.50", "0.00", "2.5000", "0.0000", "2000000005.50",
         "0.00", "通讯正常,励磁报警", "2026-03-04 05:01:00"},
        {"5", "5.5000", "0.00", "0.00", "", "40.00", "0.0000", "0.0000", "0.00", "0.00", "通讯正常",
         "2026-03-04 05:02:00"},
    };
    EXPECT_EQ(history(l.folder), expected);
    EXPECT_EQ(l.logger.staged.meterId, "5");
    l.logger.recordAll();
    EXPECT_EQ(history(l.folder).size(), 6u);
}

TEST(RecordLogging, NoMeterAnsweredWritesNothing) {
    Logging l;
    l.logger.recordAll();
    EXPECT_TRUE(history(l.folder).empty());
}

TEST(RecordLogging, DatabaseRemovedAndRestoredWhileRunning) {
    Logging l;
    l.answered(1, {});
    const std::string saved = l.folder.databasePath() + ".saved";
    std::filesystem::rename(l.folder.databasePath(), saved);
    l.logger.recordAll(); // writes nothing, shows nothing, creates nothing
    EXPECT_FALSE(std::filesystem::exists(l.folder.databasePath()));
    std::filesystem::rename(saved, l.folder.databasePath());
    l.logger.recordAll();
    EXPECT_EQ(history(l.folder).size(), 1u);
}

TEST(RecordLogging, LoweredIntervalRecordsThroughTheTick) {
    Logging l;
    l.answered(1, {});
    RecordTick tick;
    tick.recordAll = [&] { l.logger.recordAll(); };
    for (int minute = 1; minute <= 7; ++minute)
        tick.minutePassed("10");
    EXPECT_TRUE(history(l.folder).empty());
    tick.minutePassed("5"); // the operator lowered the interval below the count
    EXPECT_EQ(history(l.folder).size(), 1u);
}

TEST(RecordLogging, AnotherWriterDelaysAPassOnlyWithinItsBudget) {
    Logging l;
    for (int n = 1; n <= kMeters; ++n)
        l.answered(n, {});
    Database other(l.folder.databasePath());
    ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
    l.logger.passBudget = std::chrono::milliseconds(250);
    const auto start = std::chrono::steady_clock::now();
    l.logger.recordAll();
    // 20 rows each waiting the whole budget would take 5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_TRUE(other.exec("COMMIT"));
    EXPECT_TRUE(history(l.folder).empty());
    l.logger.recordAll();
    EXPECT_EQ(history(l.folder).size(), 20u);
}

TEST(RecordLogging, CommittedRowSurvivesKill) {
    Logging l;
    l.answered(7, {.flowRate = 7.0f});
    const pid_t child = ::fork();
    if (child == 0) {
        l.logger.recordAll();
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto rows = history(l.folder);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "7");
    EXPECT_EQ(rows[0][1], "7.0000");
}

} // namespace
} // namespace mirv
