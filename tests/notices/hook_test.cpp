// The plant's command, run by the notices of a real engine on a program folder of the test's
// own: the event in its environment, and a command that fails or hangs noted as an event.
#include "program_folder.h"
#include "station_engine.h"
#include "station_notices.h"

#include <QElapsedTimer>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace mirv {
namespace {

using namespace std::chrono_literals;

struct Station {
    test::ProgramFolder folder;
    std::unique_ptr<StationEngine> engine;
    std::unique_ptr<StationNotices> notices;
    std::vector<EventRow> noted;

    explicit Station(const std::string& conf) {
        std::ofstream(folder.path() + "/notify.conf") << conf;
        EngineClock clock;
        clock.now = [] { return QDateTime(QDate(2026, 3, 1), QTime(23, 58, 30), Qt::UTC); };
        clock.minuteMs = 200; // a back-off of 100 ms first
        engine = std::make_unique<StationEngine>(QString::fromStdString(folder.path()), clock);
        QObject::connect(engine.get(), &StationEngine::eventsNoted,
                         [this](const std::vector<EventRow>& e) {
                             noted.insert(noted.end(), e.begin(), e.end());
                         });
        notices = std::make_unique<StationNotices>(*engine, QString::fromStdString(folder.path()));
    }
    std::string file(const std::string& name) const { return folder.path() + "/" + name; }
    std::vector<std::string> notifierEvents() const {
        std::vector<std::string> seen;
        for (const auto& e : noted)
            if (e.kind == "notify-hook")
                seen.push_back(e.phase + " " + e.text + " " + e.detail);
        return seen;
    }
};

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

// No such process, or one that ended and waits to be reaped.
bool gone(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return !stat || (close != std::string::npos && text.substr(close + 2, 1) == "Z");
}

TEST(Hook, RunsWithTheEventInItsEnvironment) {
    test::TempDir out;
    const std::string env = out.str() + "/env";
    Station s("hook = env | grep ^MIRV_EVENT_ | sort > " + env + ".part && mv " + env + ".part " +
              env + "\n");
    s.engine->noteStationEvent("settings", "系统设置已保存", "轮询间隔 1000 -> 500", "note");
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(env); }, 5000));
    EXPECT_EQ(lines(env), (std::vector<std::string>{
                              "MIRV_EVENT_DETAIL=轮询间隔 1000 -> 500",
                              "MIRV_EVENT_KIND=settings",
                              "MIRV_EVENT_METER=0",
                              "MIRV_EVENT_PHASE=note",
                              "MIRV_EVENT_TEXT=系统设置已保存",
                              "MIRV_EVENT_TIME=2026-03-01 23:58:30",
                              "MIRV_EVENT_USER=",
                              "MIRV_EVENT_UTC=2026-03-01T23:58:30Z",
                          }));
}

TEST(Hook, OneThatFailsIsAnEventAndIsTriedAgainUntilItWorks) {
    test::TempDir out;
    const std::string tried = out.str() + "/tried", ran = out.str() + "/ran";
    // Fails the first time only; the retry of the same event works.
    Station t("hook = test -e " + tried + " || { touch " + tried +
              "; exit 3; }; echo \"$MIRV_EVENT_TEXT\" >> " + ran + "\n");
    t.engine->noteStationEvent("settings", "系统设置已保存", "", "note");
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.notifierEvents().size() == 2; }, 5000));
    EXPECT_EQ(t.notifierEvents(), (std::vector<std::string>{"begin 通知命令执行失败 exit status 3",
                                                            "end 通知命令已恢复 "}));
    // The failure and the recovery are notices too, after the event itself.
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines(ran).size() == 3; }, 5000));
    EXPECT_EQ(lines(ran),
              (std::vector<std::string>{"系统设置已保存", "通知命令执行失败", "通知命令已恢复"}));
}

TEST(Hook, OneThatHangsIsKilledWithoutHoldingTheEventThread) {
    test::TempDir out;
    const std::string pidFile = out.str() + "/pid";
    Station s("hook = sleep 30 & echo $! > " + pidFile + "; wait\nhook_timeout = 1\n");
    QElapsedTimer noting;
    noting.start();
    s.engine->noteStationEvent("settings", "系统设置已保存", "", "note");
    EXPECT_LT(noting.elapsed(), 500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.notifierEvents().empty(); }, 5000));
    EXPECT_EQ(s.notifierEvents().front(), "begin 通知命令执行失败 killed after 1 s");
    // What the command started is killed with it.
    const auto sleeper = lines(pidFile);
    ASSERT_EQ(sleeper.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone(std::stoi(sleeper[0])); }, 2000));
    // A command still running when the station ends is ended with it.
    QTest::qWait(300);
    QElapsedTimer ending;
    ending.start();
    s.notices.reset();
    EXPECT_LT(ending.elapsed(), 2000);
}

TEST(Hook, BadFileIsNamedOnTheMessageLineAndNothingRuns) {
    Station s("hook = true\nhook_timeout = soon\n");
    EXPECT_EQ(s.engine->message().toStdString(),
              "通知设置有误,未发通知:" + s.file("notify.conf") +
                  ": line 2: 'hook_timeout' must be a whole number of seconds from 1 to 600");
    EXPECT_FALSE(s.notices->config());
}

} // namespace
} // namespace mirv
