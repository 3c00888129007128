// Journal rows that could not be written survive the program killed during the outage, and
// killed after they went in but before their spool was removed: each goes in once.
#include "database.h"
#include "history_writer.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace mirv {
namespace {

using namespace std::chrono_literals;

EventRow event(const char* time, const char* text) {
    return {std::string("2026-03-04 ") + time,
            std::string("2026-03-04T") + time + "Z",
            0,
            "station",
            "note",
            text,
            "",
            ""};
}

std::vector<std::string> journal(const test::ProgramFolder& f) {
    Database db(f.databasePath());
    Statement q(db, "SELECT CreateTime || ' ' || Text FROM Events ORDER BY ID");
    std::vector<std::string> rows;
    while (q.step())
        rows.push_back(q.text(0));
    return rows;
}

long long alarms(const test::ProgramFolder& f) {
    Database db(f.databasePath());
    Statement q(db, "SELECT count(*) FROM Alarms WHERE MeterID = 3");
    return q.step() ? q.integer(0) : -1;
}

TEST(EventSpool, RowsOutliveAKillDuringTheOutageAndAfterTheirCommitAndGoInOnce) {
    const AlarmRow alarm{
        3,  "silent", "active-unacknowledged", 0, "2026-03-04 05:00:00", "2026-03-04 05:00:00",
        "", ""};
    for (const bool afterCommit : {false, true}) {
        SCOPED_TRACE(afterCommit ? "killed after the commit" : "killed during the outage");
        test::ProgramFolder folder;
        const pid_t child = ::fork();
        if (child == 0) {
            HistoryWriter writer(folder.databasePath(), 100);
            {
                Database holder(folder.databasePath());
                holder.exec("BEGIN IMMEDIATE"); // another writer holds the database
                writer.writeJournal({event("05:00:00", "a")}, {alarm});
                writer.waitIdle(10s);
            }
            if (afterCommit) {
                writer.reached = [](HistoryWriter::Step) { ::kill(::getpid(), SIGKILL); };
                writer.writeJournal({event("05:01:00", "b")}, {});
                writer.waitIdle(10s);
            }
            ::kill(::getpid(), SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_TRUE(std::filesystem::exists(folder.databasePath() + "-events.csv"));

        HistoryWriter restarted(folder.databasePath());
        restarted.writePending();
        restarted.writeJournal({event("05:02:00", "c")}, {});
        ASSERT_TRUE(restarted.flush(10s));
        std::vector<std::string> expected{"2026-03-04 05:00:00 a"};
        if (afterCommit)
            expected.push_back("2026-03-04 05:01:00 b");
        expected.push_back("2026-03-04 05:02:00 c");
        EXPECT_EQ(journal(folder), expected);
        EXPECT_EQ(alarms(folder), 1);
        EXPECT_FALSE(std::filesystem::exists(folder.databasePath() + "-events.csv"));
    }
}

// Appends that fail (the spool cannot be synced) leave the rows in memory, history rows queued
// between them; once an append succeeds and the database is back, each goes in once.
TEST(EventSpool, RowsWhoseAppendFailedGoInOnceInTheirOrder) {
    test::ProgramFolder folder;
    HistoryWriter writer(folder.databasePath(), 100);
    {
        Database holder(folder.databasePath());
        holder.exec("BEGIN IMMEDIATE");
        writer.eventSpool().sync = [](int) { return false; };
        writer.writeJournal({event("05:00:00", "a")}, {});
        ASSERT_TRUE(writer.waitIdle(10s));
        HistoryRecord row;
        row.meterId = "1";
        row.createTime = "2026-03-04 05:00:00";
        writer.write({row});
        ASSERT_TRUE(writer.waitIdle(10s));
        writer.writeJournal({event("05:01:00", "b")}, {});
        ASSERT_TRUE(writer.waitIdle(10s));
        writer.eventSpool().sync = [](int fd) { return ::fsync(fd) == 0; };
        writer.writeJournal({event("05:02:00", "c")}, {});
        ASSERT_TRUE(writer.waitIdle(10s));
        EXPECT_TRUE(std::filesystem::exists(folder.databasePath() + "-events.csv"));
    }
    writer.writeJournal({event("05:03:00", "d")}, {});
    ASSERT_TRUE(writer.flush(10s));
    EXPECT_EQ(journal(folder),
              (std::vector<std::string>{"2026-03-04 05:00:00 a", "2026-03-04 05:01:00 b",
                                        "2026-03-04 05:02:00 c", "2026-03-04 05:03:00 d"}));
}

} // namespace
} // namespace mirv
