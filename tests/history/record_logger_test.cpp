#include "compose_row.h"
#include "database.h"
#include "history_writer.h"
#include "program_folder.h"
#include "record_logger.h"
#include "record_tick.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace mirv {
namespace {

using namespace std::chrono_literals;
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

std::vector<std::string> column(const std::vector<Row>& rows, int c) {
    std::vector<std::string> out;
    for (const Row& r : rows)
        out.push_back(r[c]);
    return out;
}

struct Logging {
    test::ProgramFolder folder;
    ReadingsBoard board;
    HistoryWriter writer{folder.databasePath(), 100};
    RecordLogger logger{board, writer};
    int stamp = 0;

    Logging() {
        logger.now = [this] { return "2026-03-04 05:0" + std::to_string(stamp++ % 10) + ":00"; };
    }
    void answered(int n, const RegisterMap& m = {}) {
        board.setRow(n, composeRow(m));
        board.setAnswered(n, true);
    }
    // One record pass, waited for until the writer is done with it.
    void pass() {
        logger.recordAll();
        ASSERT_TRUE(writer.waitIdle(10s));
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
    l.answered(3);
    l.board.clearRow(3); // meter 3 missed its last poll
    l.board.setAnswered(3, false);
    l.pass();
    const std::vector<Row> expected{
        {"1", "1.2500", "123456.75", "0.00", "0.00", "0.00", "0.0000", "0.0000", "0.00", "0.00",
         "通讯正常", "2026-03-04 05:00:00"},
        {"2", "0.0000", "0.00", "0.00", "61.50", "0.00", "2.5000", "0.0000", "2000000005.50",
         "0.00", "通讯正常,励磁报警", "2026-03-04 05:01:00"},
        {"5", "5.5000", "0.00", "0.00", "", "40.00", "0.0000", "0.0000", "0.00", "0.00", "通讯正常",
         "2026-03-04 05:02:00"},
    };
    EXPECT_EQ(history(l.folder), expected);
    l.pass();
    EXPECT_EQ(history(l.folder).size(), 6u);
    EXPECT_FALSE(l.writer.backlog());
}

TEST(RecordLogging, NoMeterAnsweredWritesNothing) {
    Logging l;
    l.pass();
    EXPECT_TRUE(history(l.folder).empty());
}

// Whatever stops a pass from writing, its rows wait with their own time stamps and go in,
// oldest first, with the next pass that can write; nothing is half written.
TEST(RecordLogging, RowsThatCannotBeWrittenWaitForTheNextPass) {
    using Step = std::function<void(Logging&, std::unique_ptr<Database>&)>;
    const struct {
        const char* name;
        Step block, unblock;
    } cases[] = {
        {"database removed",
         [](Logging& l, auto&) {
             std::filesystem::rename(l.folder.databasePath(), l.folder.databasePath() + ".away");
         },
         [](Logging& l, auto&) {
             std::filesystem::rename(l.folder.databasePath() + ".away", l.folder.databasePath());
         }},
        {"another writer holds the database",
         [](Logging& l, std::unique_ptr<Database>& holder) {
             holder = std::make_unique<Database>(l.folder.databasePath());
             ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE"));
         },
         [](Logging&, std::unique_ptr<Database>& holder) { holder.reset(); }},
        {"the third row is refused, so the whole pass is",
         [](Logging& l, auto&) {
             l.folder.exec("CREATE TRIGGER refuse BEFORE INSERT ON Historydata "
                           "WHEN NEW.MeterID = '3' BEGIN SELECT RAISE(ABORT, 'refused'); END;");
         },
         [](Logging& l, auto&) { l.folder.exec("DROP TRIGGER refuse"); }},
    };
    for (const auto& c : cases) {
        Logging l;
        for (int n : {1, 2, 3, 4})
            l.answered(n);
        std::unique_ptr<Database> holder;
        c.block(l, holder);
        const auto start = std::chrono::steady_clock::now();
        l.logger.recordAll();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms) << c.name;
        ASSERT_TRUE(l.writer.waitIdle(10s));
        EXPECT_TRUE(l.writer.backlog()) << c.name;
        EXPECT_EQ(l.writer.queued(), 4u) << c.name;
        l.board.setAnswered(2, false);
        l.pass(); // still blocked: the second pass waits too
        EXPECT_EQ(l.writer.queued(), 7u) << c.name;
        c.unblock(l, holder);
        l.pass();
        const auto rows = history(l.folder);
        EXPECT_EQ(column(rows, 0),
                  (std::vector<std::string>{"1", "2", "3", "4", "1", "3", "4", "1", "3", "4"}))
            << c.name;
        EXPECT_EQ(column(rows, 11),
                  (std::vector<std::string>{"2026-03-04 05:00:00", "2026-03-04 05:01:00",
                                            "2026-03-04 05:02:00", "2026-03-04 05:03:00",
                                            "2026-03-04 05:04:00", "2026-03-04 05:05:00",
                                            "2026-03-04 05:06:00", "2026-03-04 05:07:00",
                                            "2026-03-04 05:08:00", "2026-03-04 05:09:00"}))
            << c.name;
        EXPECT_FALSE(l.writer.backlog()) << c.name;
        EXPECT_EQ(l.writer.queued(), 0u) << c.name;
    }
}

TEST(RecordLogging, QueueHoldsADayAndDropsTheOldest) {
    test::ProgramFolder folder(false);
    HistoryWriter writer(folder.databasePath(), 10);
    std::vector<HistoryRecord> day;
    for (std::size_t i = 0; i < HistoryWriter::kMaxQueued + 5; ++i) {
        HistoryRecord r;
        r.meterId = "1";
        r.flow = std::to_string(i);
        r.createTime = "t";
        day.push_back(r);
    }
    writer.write(std::move(day));
    ASSERT_TRUE(writer.waitIdle(10s));
    EXPECT_EQ(writer.queued(), HistoryWriter::kMaxQueued);
    EXPECT_EQ(writer.dropped(), 5u);
    ASSERT_EQ(createDatabase(folder.databasePath(), test::schemaText()), std::nullopt);
    EXPECT_TRUE(writer.flush(10s));
    Database db(folder.databasePath());
    Statement q(db, "SELECT count(*), min(ID), (SELECT MinuteAverage FROM Historydata ORDER BY ID "
                    "LIMIT 1) FROM Historydata");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.integer(0), static_cast<std::int64_t>(HistoryWriter::kMaxQueued));
    EXPECT_EQ(q.text(2), "5");
}

TEST(RecordLogging, WritesWithFullSynchronousOnItsOwnConnection) {
    Logging l;
    l.answered(1);
    std::int64_t synchronous = -1;
    l.writer.connectionOpened = [&](Database& db) {
        Statement q(db, "PRAGMA synchronous");
        if (q.step())
            synchronous = q.integer(0);
    };
    l.pass();
    EXPECT_EQ(synchronous, 2); // FULL
}

TEST(RecordLogging, LoweredIntervalRecordsThroughTheTick) {
    Logging l;
    l.answered(1);
    RecordTick tick;
    tick.recordAll = [&] { l.pass(); };
    for (int minute = 1; minute <= 7; ++minute)
        tick.minutePassed("10");
    EXPECT_TRUE(history(l.folder).empty());
    tick.minutePassed("5"); // the operator lowered the interval below the count
    EXPECT_EQ(history(l.folder).size(), 1u);
}

TEST(RecordLogging, CommittedRowSurvivesKill) {
    test::ProgramFolder folder;
    const pid_t child = ::fork();
    if (child == 0) {
        ReadingsBoard board;
        board.setRow(7, composeRow({.flowRate = 7.0f}));
        board.setAnswered(7, true);
        HistoryWriter writer(folder.databasePath());
        RecordLogger logger(board, writer);
        logger.recordAll();
        writer.flush(10s);
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto rows = history(folder);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "7");
    EXPECT_EQ(rows[0][1], "7.0000");
}

} // namespace
} // namespace mirv
