// The window's desktop notices: which alarms are news, and the Notify call itself as
// dbus-monitor sees it on the session bus of the dbus-run-session this test runs under.
#include "child_process.h"
#include "station_feed.h"
#include "temp_dir.h"
#include "window_notices.h"

#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace mirv {
namespace {

AlarmRow alarm(int meter, const char* kind, const char* state, int repeats = 0) {
    AlarmRow a;
    a.meter = meter;
    a.kind = kind;
    a.state = state;
    a.repeats = repeats;
    return a;
}

struct News {
    const char* name;
    std::vector<AlarmRow> before, now;
    std::vector<int> newMeters;
};

void PrintTo(const News& n, std::ostream* os) {
    *os << n.name;
}

class AlarmNews : public testing::TestWithParam<News> {};

TEST_P(AlarmNews, AreActiveUnacknowledgedAlarmsThatBeganOrCameBack) {
    std::vector<int> meters;
    for (const auto& a : newAlarms(GetParam().before, GetParam().now))
        meters.push_back(a.meter);
    EXPECT_EQ(meters, GetParam().newMeters);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, AlarmNews,
    testing::Values(News{"began", {}, {alarm(3, "silent", "active-unacknowledged")}, {3}},
                    News{"known",
                         {alarm(3, "silent", "active-unacknowledged")},
                         {alarm(3, "silent", "active-unacknowledged")},
                         {}},
                    News{"repeated",
                         {alarm(3, "silent", "active-unacknowledged", 1)},
                         {alarm(3, "silent", "active-unacknowledged", 2)},
                         {3}},
                    News{"acknowledged",
                         {alarm(3, "silent", "active-unacknowledged")},
                         {alarm(3, "silent", "active-acknowledged")},
                         {}},
                    News{"returned",
                         {alarm(3, "silent", "active-unacknowledged")},
                         {alarm(3, "silent", "returned-unacknowledged")},
                         {}},
                    News{"again after acknowledged",
                         {alarm(3, "alarm-upper", "returned-unacknowledged")},
                         {alarm(3, "alarm-upper", "active-unacknowledged")},
                         {3}},
                    News{"other kind",
                         {alarm(3, "silent", "active-unacknowledged")},
                         {alarm(3, "silent", "active-unacknowledged"),
                          alarm(3, "alarm-upper", "active-unacknowledged")},
                         {3}}),
    [](const testing::TestParamInfo<News>& p) {
        std::string n = p.param.name;
        std::replace(n.begin(), n.end(), ' ', '_');
        return n;
    });

// A station seen from outside: only its alarms matter here.
class AlarmFeed : public StationFeed {
  public:
    const BoardRow& row(int) const override { return row_; }
    MeterMark mark(int) const override { return {}; }
    QString message() const override { return {}; }
    SettingsTexts settingsTexts() const override { return {}; }
    void readLine(LineReadout&) override {}
    void clearCounters() override {}
    void saveSettings(const SettingsUpdate&) override {}
    bool appliesAtOnce() const override { return true; }
    std::vector<AlarmRow> alarms() const override { return alarms_; }
    void set(std::vector<AlarmRow> alarms) {
        alarms_ = std::move(alarms);
        emit alarmsChanged();
    }

  private:
    BoardRow row_{};
    std::vector<AlarmRow> alarms_;
};

std::string text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DesktopNotice, NotifyCallGoesOverTheSessionBus) {
    ASSERT_TRUE(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        << "run under dbus-run-session";
    test::TempDir dir;
    const std::string seen = dir.str() + "/monitor.log";
    test::ChildProcess monitor(test::withLog(
        {"dbus-monitor", "--session", "interface='org.freedesktop.Notifications'"}, seen, true));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return text(seen).find("NameAcquired") != std::string::npos; }, 5000));
    std::ofstream(dir.str() + "/notify.conf") << "desktop = on\n";
    AlarmFeed feed;
    WindowNotices notices(feed, nullptr, QString::fromStdString(dir.str()));

    feed.set({alarm(3, "silent", "active-unacknowledged")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return text(seen).find("仪表3通讯中断") != std::string::npos; }, 5000))
        << text(seen);
    const std::string call = text(seen);
    EXPECT_NE(call.find("member=Notify"), std::string::npos);
    EXPECT_NE(call.find("string \"mirv-station\""), std::string::npos);
}

} // namespace
} // namespace mirv
