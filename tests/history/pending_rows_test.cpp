// Rows that could not be written survive the end of the program, a crash at any step of their
// way into Historydata, and go in once each.
#include "compose_row.h"
#include "database.h"
#include "forked_user.h"
#include "history_writer.h"
#include "program_folder.h"
#include "record_logger.h"
#include "sync_counting_vfs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace mirv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kHeader = "MeterID,MinuteAverage,Foward,Reverse,TXTctemperature1,"
                                "TXTctemperature2,TXTreliang,TXTlengliang,TXTleijire_z,"
                                "TXTleijileng_z,Alarmstatus,CreateTime,Complete\n";

// MeterID, Foward, Alarmstatus and CreateTime of every row, in the order written.
std::vector<std::string> history(const test::ProgramFolder& f) {
    Database db(f.databasePath());
    Statement q(db, "SELECT MeterID, Foward, Alarmstatus, CreateTime FROM Historydata ORDER BY ID");
    std::vector<std::string> rows;
    while (q.step())
        rows.push_back(q.text(0) + " " + q.text(1) + " " + q.text(2) + " " + q.text(3));
    return rows;
}

std::string pendingPath(const test::ProgramFolder& f) {
    return f.databasePath() + "-pending.csv";
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A board with meters answering, a writer and a logger whose clock the test sets.
struct Station {
    const test::ProgramFolder& folder;
    ReadingsBoard board;
    HistoryWriter writer{folder.databasePath(), 100};
    RecordLogger logger{board, writer};
    std::string time;

    explicit Station(const test::ProgramFolder& f) : folder(f) {
        logger.now = [this] { return time; };
    }
    void pass(std::initializer_list<int> meters, const std::string& at) {
        for (int n = 1; n <= kMeters; ++n)
            board.setAnswered(n, false);
        for (int n : meters) {
            board.setRow(n, composeRow({.forwardInt = static_cast<std::uint32_t>(n * 10),
                                        .exciteAlarm = static_cast<std::uint16_t>(n == 2)}));
            board.setAnswered(n, true);
        }
        time = at;
        logger.recordAll();
        ASSERT_TRUE(writer.waitIdle(10s));
    }
};

struct Holder {
    Database db;
    explicit Holder(const test::ProgramFolder& f) : db(f.databasePath()) {
        EXPECT_TRUE(db.exec("BEGIN IMMEDIATE"));
    }
};

TEST(PendingRows, WaitInTheirFileAcrossARestartAndGoInOnce) {
    test::ProgramFolder folder;
    {
        Station s(folder);
        auto holder = std::make_unique<Holder>(folder);
        s.pass({1, 2}, "2026-03-04 05:00:00");
        EXPECT_EQ(s.writer.state(), HistoryWriter::State::Waiting);
        EXPECT_EQ(s.writer.queued(), 2u);
        EXPECT_EQ(s.writer.finish(), 0u) << "nothing is lost: the rows are in their file";
    }
    EXPECT_EQ(slurp(pendingPath(folder)),
              std::string(kHeader) +
                  "1,0.0000,10.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,"
                  "2026-03-04 05:00:00,1\n"
                  "2,0.0000,20.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,\"通讯正常,励磁报警\","
                  "2026-03-04 05:00:00,1\n");
    EXPECT_TRUE(history(folder).empty());

    Station restarted(folder);
    restarted.writer.writePending();
    ASSERT_TRUE(restarted.writer.waitIdle(10s));
    restarted.pass({3}, "2026-03-04 05:01:00");
    EXPECT_EQ(history(folder), (std::vector<std::string>{
                                   "1 10.00 通讯正常 2026-03-04 05:00:00",
                                   "2 20.00 通讯正常,励磁报警 2026-03-04 05:00:00",
                                   "3 30.00 通讯正常 2026-03-04 05:01:00",
                               }));
    EXPECT_FALSE(fs::exists(pendingPath(folder)));
    EXPECT_EQ(restarted.writer.state(), HistoryWriter::State::Written);
}

// A file written by hand: a row Historydata already holds (a crash came after the commit), a
// line a crash cut short, rows to go in.
TEST(PendingRows, ReadBackSkipsRowsAlreadyWrittenAndLinesCutShort) {
    test::ProgramFolder folder;
    folder.exec("INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                "TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, "
                "TXTleijileng_z, Alarmstatus, CreateTime) VALUES ('1', '0.0000', '10.00', "
                "'0.00', '0.00', '0.00', '0.0000', '0.0000', '0.00', '0.00', '通讯正常', "
                "'2026-03-04 05:00:00')");
    std::ofstream(pendingPath(folder))
        << kHeader
        << "1,0.0000,10.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,2026-03-04 05:00:00,1\n"
        << "1,0.0000,11.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,2026-03-04 05:01:00,1\n"
        << "5,0.0000,\"5\"\"0.00\",0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,"
           "2026-03-04 05:01:00,1\r\n"
        << "1,0.0000,12.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,2026-03-04 05:0";
    Station s(folder);
    {
        // Still locked: the next pass goes into the file after the cut line, on a line of
        // its own.
        Holder holder(folder);
        s.pass({2}, "2026-03-04 05:02:00");
        EXPECT_EQ(s.writer.state(), HistoryWriter::State::Waiting);
    }
    s.pass({}, "2026-03-04 05:03:00");
    EXPECT_EQ(history(folder), (std::vector<std::string>{
                                   "1 10.00 通讯正常 2026-03-04 05:00:00",
                                   "1 11.00 通讯正常 2026-03-04 05:01:00",
                                   "5 5\"0.00 通讯正常 2026-03-04 05:01:00",
                                   "2 20.00 通讯正常,励磁报警 2026-03-04 05:02:00",
                               }));
    EXPECT_FALSE(fs::exists(pendingPath(folder)));
}

// A power cut left a line inside a quoted field and rows were appended after it: those rows
// all go in, and the one cut line is counted as dropped.
TEST(PendingRows, RowsAfterALineCutInAQuotedFieldGoIn) {
    test::ProgramFolder folder;
    {
        std::ofstream out(pendingPath(folder));
        out << kHeader << "2,0.0000,20.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,\"通讯正常,励磁\n";
        for (int n = 1; n <= 10; ++n)
            out << n << ",0.0000," << n << "0.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,"
                << "2026-03-04 05:01:00,1\n";
    }
    Station s(folder);
    std::vector<std::size_t> dropped;
    s.writer.cutLinesDropped = [&](std::size_t n) { dropped.push_back(n); };
    s.writer.writePending();
    ASSERT_TRUE(s.writer.waitIdle(10s));
    EXPECT_EQ(history(folder).size(), 10u);
    EXPECT_EQ(dropped, std::vector<std::size_t>{1});
    EXPECT_FALSE(fs::exists(pendingPath(folder)));
}

// The database read-only when the writer first opens it, writable again later: the rows that
// waited go in with the next pass.
TEST(PendingRows, GoInOnceTheDatabaseIsWritableAgain) {
    test::ProgramFolder folder;
    const std::string db = folder.databasePath();
    if (test::runningAsRoot()) { // root writes read-only files: the passes run as a user
        ASSERT_EQ(::chown(folder.path().c_str(), test::kFirstOperator, test::kFirstOperator), 0);
        for (const auto& p : fs::recursive_directory_iterator(folder.path()))
            ASSERT_EQ(::chown(p.path().c_str(), test::kFirstOperator, test::kFirstOperator), 0);
    }
    const int status = test::runInChild(
        022, test::ForkedUser{test::kFirstOperator, test::kFirstOperator, {}}, [&] {
            ::chmod(db.c_str(), 0444);
            Station s(folder);
            s.pass({1}, "2026-03-04 05:00:00");
            if (s.writer.state() != HistoryWriter::State::Waiting)
                return 2;
            ::chmod(db.c_str(), 0644);
            s.pass({2}, "2026-03-04 05:01:00");
            return s.writer.state() == HistoryWriter::State::Written ? 0 : 3;
        });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(history(folder).size(), 2u);
}

// A logging pass on the writer's connection syncs the WAL once (twice when it starts afresh).
TEST(PendingRows, APassSyncsAtMostTwice) {
    test::ProgramFolder folder;
    test::SyncCountingVfs vfs;
    {
        Station s(folder);
        s.pass({1, 2, 3}, "2026-03-04 05:00:00");
        for (int minute = 1; minute <= 3; ++minute) {
            test::SyncCountingVfs::reset();
            s.pass({1, 2, 3}, "2026-03-04 05:0" + std::to_string(minute) + ":00");
            EXPECT_LE(test::SyncCountingVfs::syncs(), 2) << "pass " << minute;
        }
    }
    EXPECT_EQ(history(folder).size(), 12u);
}

// The program killed at each step on the rows' way: a restart loses none and doubles none.
TEST(PendingRows, KillAtEachStepLosesAndDoublesNothing) {
    const struct {
        const char* name;
        std::function<void(Station&)> armKill;
        bool committed; // whether the first rows are in Historydata after the kill
    } cases[] = {
        {"between the append and its sync",
         [](Station& s) {
             s.writer.pendingFile().afterAppend = [] { ::kill(::getpid(), SIGKILL); };
         },
         false},
        {"after the commit, before the file is removed",
         [](Station& s) {
             s.writer.reached = [](HistoryWriter::Step) { ::kill(::getpid(), SIGKILL); };
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ProgramFolder folder;
        const pid_t child = ::fork();
        if (child == 0) {
            Station s(folder);
            {
                Holder holder(folder);
                if (!c.committed)
                    c.armKill(s);
                s.pass({1, 2}, "2026-03-04 05:00:00");
            }
            c.armKill(s);
            s.pass({3}, "2026-03-04 05:01:00");
            ::_exit(0); // not reached: the kill came first
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(history(folder).size(), c.committed ? 3u : 0u);
        ASSERT_TRUE(fs::exists(pendingPath(folder)));

        Station restarted(folder);
        restarted.writer.writePending();
        restarted.pass({4}, "2026-03-04 05:02:00");
        std::vector<std::string> expected{"1 10.00 通讯正常 2026-03-04 05:00:00",
                                          "2 20.00 通讯正常,励磁报警 2026-03-04 05:00:00"};
        if (c.committed)
            expected.push_back("3 30.00 通讯正常 2026-03-04 05:01:00");
        expected.push_back("4 40.00 通讯正常 2026-03-04 05:02:00");
        EXPECT_EQ(history(folder), expected);
        EXPECT_FALSE(fs::exists(pendingPath(folder)));
    }
}

// A folder where not even the pending file can be made: the rows wait in memory, and the end
// of the program counts them as lost.
TEST(PendingRows, RowsNotSavedAnywhereAreCountedAtTheEnd) {
    test::ProgramFolder folder;
    fs::create_directory(pendingPath(folder)); // a folder where the file should be
    Station s(folder);
    Holder holder(folder);
    s.pass({1, 2, 3}, "2026-03-04 05:00:00");
    EXPECT_EQ(s.writer.state(), HistoryWriter::State::NotSaved);
    EXPECT_EQ(s.writer.queued(), 3u);
    s.pass({1}, "2026-03-04 05:01:00");
    EXPECT_EQ(s.writer.finish(), 4u);
}

} // namespace
} // namespace mirv
