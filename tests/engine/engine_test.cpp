// The engine against the meter simulator on a pseudo-terminal and a real database, its clock
// in the test's hand: a logging pass, an hour's line statistics and a day's summary come when
// the test says, not when a minute or an hour has passed.
#include "child_process.h"
#include "database.h"
#include "program_folder.h"
#include "station_engine.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <filesystem>
#include <gtest/gtest.h>

namespace mirv {
namespace {

using namespace std::chrono_literals;

struct Station {
    test::ProgramFolder folder;
    std::unique_ptr<test::ChildProcess> sim;
    QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(23, 58, 30));
    std::unique_ptr<StationEngine> engine;

    // `row`: timer, minute, com, Settings, num.
    explicit Station(const std::string& row, const std::string& meters,
                     std::vector<std::string> simOptions = {}) {
        folder.exec("UPDATE mirve SET (\"timer\", \"minute\", \"com\", \"Settings\", \"num\") = (" +
                    row + ")");
        const std::string link = folder.path() + "/ports/com1";
        std::vector<std::string> argv{MIRV_METER_SIM, "--link", link, "--meters", meters};
        argv.insert(argv.end(), simOptions.begin(), simOptions.end());
        sim = std::make_unique<test::ChildProcess>(argv);
        EXPECT_TRUE(test::waitForPath(link));
        restart();
    }
    void restart() {
        engine.reset();
        EngineClock clock;
        clock.now = [this] { return now; };
        engine = std::make_unique<StationEngine>(QString::fromStdString(folder.path()), clock);
    }
    std::vector<std::string> journal() {
        std::vector<std::string> texts;
        Database db(folder.databasePath());
        Statement q(db,
                    "SELECT MeterID || ' ' || Phase || ' ' || Text || "
                    "CASE User WHEN '' THEN '' ELSE ' by ' || User END FROM Events ORDER BY ID");
        while (q.step())
            texts.push_back(q.text(0));
        return texts;
    }
    // CreateTime, UtcTime, Phase, Text and Detail of the journal's events of `kind`.
    std::vector<std::string> events(const std::string& kind) {
        std::vector<std::string> rows;
        Database db(folder.databasePath());
        Statement q(db, "SELECT CreateTime || '|' || UtcTime || '|' || Phase || '|' || Text || "
                        "'|' || Detail FROM Events WHERE Kind = ?1 ORDER BY ID");
        q.bind(1, kind);
        while (q.step())
            rows.push_back(q.text(0));
        return rows;
    }
    // Waits until the engine noted an event of the database's.
    bool databaseNoted(const std::string& phase) {
        bool noted = false;
        const auto c = QObject::connect(engine.get(), &StationEngine::eventsNoted,
                                        [&](const std::vector<EventRow>& events) {
                                            for (const EventRow& e : events)
                                                noted |= e.kind == "database" && e.phase == phase;
                                        });
        const bool seen = QTest::qWaitFor([&] { return noted; }, 10000);
        QObject::disconnect(c);
        return seen;
    }
    bool answered(int n) { return engine->board().answered(n); }
    long long count(const std::string& sql) {
        Database db(folder.databasePath());
        Statement q(db, sql);
        return q.step() ? q.integer(0) : -1;
    }
};

TEST(Engine, ItsClockBringsTheLoggingPassTheHoursStatisticsAndTheDaysSummary) {
    Station s("'200', '2', 1, '9600', '3'", "1,2");
    ASSERT_EQ(s.engine->start(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.answered(1) && s.answered(2); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.engine->mark(3).silent; }, 10000));

    // Every second minute, as saved; the silent meter 3 gives no row.
    s.engine->minutePassed();
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    EXPECT_EQ(s.count("SELECT count(*) FROM Historydata"), 0);
    s.engine->minutePassed();
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    EXPECT_EQ(s.count("SELECT count(*) FROM Historydata WHERE CreateTime = '2026-03-01 23:58:30' "
                      "AND MeterID IN (1, 2)"),
              2);

    // Past midnight: the hour's statistics of all three polled meters, and the day that ended
    // is summed up once the next day's rows are in.
    s.now = QDateTime(QDate(2026, 3, 2), QTime(0, 0, 30));
    s.engine->hourPassed();
    s.engine->minutePassed();
    s.engine->minutePassed();
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    EXPECT_EQ(s.count("SELECT count(*) FROM Linkstats WHERE Hour = '2026-03-01 23:00:00'"), 3);
    EXPECT_EQ(s.count("SELECT count(*) FROM Linkstats WHERE Hour = '2026-03-01 23:00:00' AND "
                      "MeterID = 3 AND Answers = 0 AND Misses > 0"),
              1);
    EXPECT_EQ(s.count("SELECT count(*) FROM Historyday WHERE Day = '2026-03-01'"), 2);
    EXPECT_EQ(s.count("SELECT count(*) FROM Historydata"), 4);
}

// In the service a Save applies at once: the poll interval and the meter count change while the
// line's counters go on; a refused interval changes nothing.
TEST(Engine, SaveInTheServiceChecksStoresAndAppliesAtOnce) {
    Station s("'1000', '1', 1, '9600', '1'", "1,2");
    s.engine->applyOnSave = true;
    ASSERT_EQ(s.engine->start(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.answered(1); }, 10000));
    QSignalSpy saved(s.engine.get(), &StationFeed::settingsSaved);

    SettingsUpdate refused{"150", "1", "9600", "2", 1, std::nullopt};
    s.engine->saveSettings(refused);
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved.at(0).at(0).toString(), "发送间隔必须输入大于200的数字且小于65535");
    EXPECT_EQ(s.count("SELECT count(*) FROM mirve WHERE timer = '1000' AND num = '1'"), 1);

    LineReadout before;
    s.engine->readLine(before);
    SettingsUpdate update{"300", "5", "9600", "2", 1, std::nullopt};
    s.engine->saveSettings(update);
    ASSERT_EQ(saved.count(), 2);
    EXPECT_EQ(saved.at(1).at(0).toString(), "");
    EXPECT_EQ(s.count("SELECT count(*) FROM mirve WHERE timer = '300' AND minute = '5' AND "
                      "num = '2'"),
              1);
    EXPECT_EQ(s.engine->pollTimer().interval(), 300);
    EXPECT_EQ(s.engine->settingsTexts().recordInterval, "5");
    EXPECT_TRUE(s.engine->mark(2).polled);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.answered(2); }, 10000));
    LineReadout after;
    s.engine->readLine(after);
    EXPECT_EQ(after.setIntervalMs, 300);
    EXPECT_GE(after.meters[1].requests, before.meters[1].requests);
    EXPECT_GT(after.meters[2].answers, 0u);
}

// Meters at the addresses and with the profiles the Meters table gives them, logged under their
// addresses; a row whose profile is not there is said and left out, the others are polled.
TEST(Engine, TheMetersTablePollsEachRowAtItsAddressWithItsProfile) {
    Station s("'200', '1', 1, '9600', '3'", "200",
              {"--meter", "17", "--meter", "1:float32-cdab-input", "--profiles", MIRV_PROFILES});
    std::filesystem::copy(MIRV_PROFILES, s.folder.path() + "/profiles");
    s.folder.exec("INSERT INTO Meters (Row, Address, Profile, Name) VALUES "
                  "(1, 1, 'float32-cdab-input', 'boiler'), (2, 17, 'default', NULL), "
                  "(3, 5, 'no-such-profile', NULL)");
    s.restart();
    ASSERT_EQ(s.engine->start(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.answered(1) && s.answered(2); }, 10000));
    EXPECT_FALSE(s.engine->row(1)[FlowRateCell].empty());
    EXPECT_TRUE(s.engine->message().startsWith("仪表设置有误,部分仪表未轮询: "))
        << s.engine->message().toStdString();
    EXPECT_TRUE(s.engine->message().contains("no-such-profile"))
        << s.engine->message().toStdString();
    // The diagnostics name each read polled: the meter's name and its profile's.
    LineCounts counts;
    s.engine->readCounts(counts);
    ASSERT_EQ(counts.polled.size(), 2u);
    EXPECT_EQ(counts.polled[0].key, (ReadKey{1, 0}));
    EXPECT_EQ(counts.polled[0].name, "boiler");
    EXPECT_EQ(counts.polled[0].profile, "float32-cdab-input");
    EXPECT_EQ(counts.polled[1].name, "");
    EXPECT_EQ(counts.polled[1].profile, "default");
    s.engine->minutePassed();
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    Database db(s.folder.databasePath());
    Statement q(db, "SELECT group_concat(MeterID, ',') FROM (SELECT MeterID FROM Historydata "
                    "ORDER BY ID)");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.text(0), "1,17");
}

// Each alarm once however long it lasts, an acknowledgement that outlives a restart, and a run
// that ended without its stop found by the next.
TEST(Engine, TheJournalKeepsAlarmsOnceAndTheirAcknowledgementAcrossARestart) {
    Station s("'200', '1', 1, '9600', '3'", "1,3", {"--alarm", "3:excite+upper"});
    ASSERT_EQ(s.engine->start(), "");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return s.engine->mark(2).alarm == MeterAlarm::Unacknowledged; }, 10000));
    QTest::qWait(1500); // a few more rounds: nothing more to say
    EXPECT_EQ(s.engine->mark(3).alarm, MeterAlarm::Unacknowledged);
    EXPECT_EQ(s.engine->mark(1).alarm, MeterAlarm::None);
    EXPECT_EQ(s.engine->acknowledgeAs(2, "silent", "shift-a"), 1);
    EXPECT_EQ(s.engine->mark(2).alarm, MeterAlarm::Acknowledged);
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    const std::vector<std::string> first{"0 begin 系统启动", "3 begin 仪表3励磁报警",
                                         "3 begin 仪表3上限报警", "2 begin 仪表2通讯中断",
                                         "2 ack 仪表2通讯中断已确认 by shift-a"};
    EXPECT_EQ(s.journal(), first);

    // A run that ends without its stop (a crash, a power cut).
    s.restart();
    ASSERT_EQ(s.engine->start(), "");
    EXPECT_EQ(s.engine->mark(2).alarm, MeterAlarm::Acknowledged);
    EXPECT_EQ(s.engine->mark(3).alarm, MeterAlarm::Unacknowledged);
    QTest::qWait(1500);
    s.engine->stop();
    const std::vector<std::string> journal = s.journal();
    ASSERT_EQ(journal.size(), first.size() + 3);
    EXPECT_EQ(journal[first.size()], "0 end 系统异常退出");
    EXPECT_EQ(journal[first.size() + 1], "0 begin 系统启动");
    EXPECT_EQ(journal[first.size() + 2], "0 end 系统正常退出");
}

// Clock times eight hours ahead of UTC, so that the local and the UTC time differ by day too.
QDateTime at(int hour, int minute) {
    return QDateTime(QDate(2026, 3, 2), QTime(hour, minute), QTimeZone(8 * 3600));
}

// The database away for two logging passes: its outage is journaled when it began and when it
// came back, with the rows that waited for it, once the file is back.
TEST(Engine, ADatabaseOutageIsJournaledAtTheTimesItBeganAndEnded) {
    Station s("'200', '1', 1, '9600', '2'", "1,2");
    ASSERT_EQ(s.engine->start(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.answered(1) && s.answered(2); }, 10000));
    const std::string path = s.folder.databasePath();
    std::filesystem::rename(path, path + ".away");
    s.now = at(6, 15);
    s.engine->minutePassed();
    ASSERT_TRUE(s.databaseNoted("begin"));
    s.now = at(6, 16);
    s.engine->minutePassed();
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));

    std::filesystem::rename(path + ".away", path);
    s.now = at(6, 17);
    s.engine->minutePassed();
    ASSERT_TRUE(s.databaseNoted("end"));
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    EXPECT_EQ(s.events("database"),
              (std::vector<std::string>{
                  "2026-03-02 06:15:00|2026-03-01T22:15:00Z|begin|数据库不可用|",
                  "2026-03-02 06:17:00|2026-03-01T22:17:00Z|end|数据库恢复|等待写入4行"}));
    EXPECT_EQ(s.count("SELECT count(*) FROM Historydata"), 6);
}

// Events noted while the database is away outlive an end without a stop, and go in once at the
// next start, before that start's own.
TEST(Engine, EventsNotedDuringAnOutageOutliveAnEndWithoutStop) {
    Station s("'200', '1', 1, '9600', '1'", "1");
    ASSERT_EQ(s.engine->start(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.answered(1); }, 10000));
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    const std::string path = s.folder.databasePath();
    std::filesystem::rename(path, path + ".away");
    s.now = at(6, 15);
    s.engine->minutePassed();
    ASSERT_TRUE(s.databaseNoted("begin"));
    ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));

    s.engine.reset(); // no stop
    std::filesystem::rename(path + ".away", path);
    for (int run = 0; run < 2; ++run) {
        s.restart();
        ASSERT_EQ(s.engine->start(), "");
        ASSERT_TRUE(s.engine->historyWriter().waitIdle(5s));
    }
    s.engine->stop();
    EXPECT_EQ(s.journal(), (std::vector<std::string>{"0 begin 系统启动", "0 begin 数据库不可用",
                                                     "0 end 系统异常退出", "0 end 数据库恢复",
                                                     "0 begin 系统启动", "0 end 系统异常退出",
                                                     "0 begin 系统启动", "0 end 系统正常退出"}));
    EXPECT_FALSE(std::filesystem::exists(path + "-events.csv"));
}

} // namespace
} // namespace mirv
