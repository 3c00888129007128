// Windows attached to a running service: they show its board live, Save applies in the service
// at once, and a service that goes away and comes back is shown as such.
#include "attached_feed.h"
#include "board_cell.h"
#include "main_window.h"
#include "operator_name.h"
#include "running_service.h"
#include "scripted_dialogs.h"
#include "station_messages.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <signal.h>

namespace mirv {
namespace {

struct AttachedWindow {
    test::ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    explicit AttachedWindow(const test::RunningService& s) {
        const QString dir = QString::fromStdString(s.folder.path());
        auto feed = std::make_unique<AttachedFeed>(wire::socketPath(dir));
        EXPECT_EQ(feed->attach(std::chrono::seconds(5)), AttachedFeed::Attach::Attached);
        window = std::make_unique<MainWindow>(dir, dialogs, std::move(feed));
        window->startUp();
    }
    MainWindow& w() { return *window; }
    QString cell(int meter, int c) { return w().boardCells[meter - 1][c]->text(); }
    bool rowShown(int meter) { return !cell(meter, 0).isEmpty(); }
};

TEST(AttachedWindow, ShowsTheServiceLiveAndItsSaveAppliesThere) {
    test::RunningService s;
    AttachedWindow first(s), second(s);
    EXPECT_TRUE(first.dialogs.messages.isEmpty());
    EXPECT_EQ(first.w().engine(), nullptr);
    EXPECT_EQ(first.w().pollIntervalField->text(), "200");

    ASSERT_TRUE(QTest::qWaitFor([&] { return first.rowShown(1) && second.rowShown(5); }, 10000));
    EXPECT_TRUE(first.w().meterNumbers[0]->isEnabled());
    EXPECT_FALSE(first.w().meterNumbers[5]->isEnabled()) << "meter 6 is not polled";
    // The board follows the meters: some number of meter 1 changes.
    QStringList before;
    for (int c = 0; c < kCells; ++c)
        before << first.cell(1, c);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < kCells; ++c)
                if (first.cell(1, c) != before[c] && !first.cell(1, c).isEmpty())
                    return true;
            return false;
        },
        15000));

    // Save in the first window: the service takes the new poll interval at once, the window
    // ends and the other one sees it.
    first.w().pollIntervalField->setText("500");
    first.dialogs.answers = {true};
    first.w().onSaveClicked();
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.dialogs.ended == 1; }, 5000));
    EXPECT_TRUE(first.dialogs.messages.isEmpty()) << first.dialogs.messages.join("|").toStdString();
    LineReadout readout;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            second.w().feed().readLine(readout);
            return readout.setIntervalMs == 500 && readout.frames.size() > 0;
        },
        5000));
    EXPECT_EQ(second.w().pollIntervalField->text(), "500");
}

// A silent meter's alarm reaches every attached window; one acknowledges it in the name of the
// user the window runs as, told by the socket itself, and all see it acknowledged.
TEST(AttachedWindow, AlarmsReachEveryWindowAndAreAcknowledgedInTheOperatorsName) {
    test::RunningService s;
    AttachedWindow saver(s), first(s), second(s);
    saver.w().meterCountBox->setCurrentText("6"); // meter 6 does not answer
    saver.dialogs.answers = {true};
    saver.w().onSaveClicked();
    ASSERT_TRUE(QTest::qWaitFor([&] { return saver.dialogs.ended == 1; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return second.w().feed().mark(6).alarm == MeterAlarm::Unacknowledged; }, 15000));
    first.w().feed().acknowledge(6, "silent");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return second.w().feed().mark(6).alarm == MeterAlarm::Acknowledged; }, 5000));
    const std::vector<AlarmRow> alarms = second.w().feed().alarms();
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].meter, 6);
    EXPECT_EQ(alarms[0].state, "active-acknowledged");
    EXPECT_EQ(alarms[0].ackUser, operatorName());
}

TEST(AttachedWindow, SaysWhenTheServiceGoesAndAttachesAgainWhenItIsBack) {
    test::RunningService s;
    AttachedWindow a(s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.rowShown(1); }, 10000));

    s.process.stop(SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return a.w().messageLine->text() == "后台服务已停止,正在重新连接"; }, 2000));
    EXPECT_FALSE(a.rowShown(1));
    EXPECT_FALSE(a.w().meterNumbers[0]->isEnabled());

    ASSERT_TRUE(s.start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.rowShown(1); }, 15000));
    EXPECT_TRUE(a.w().meterNumbers[0]->isEnabled());
    EXPECT_NE(a.w().messageLine->text(), "后台服务已停止,正在重新连接");
}

// A stopped service keeps its socket open; the window hears no beat and says so as if it had
// ended, and attaches again once the service goes on.
TEST(AttachedWindow, SaysWhenTheServiceIsStoppedAndAttachesAgainWhenItGoesOn) {
    test::RunningService s;
    AttachedWindow a(s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.rowShown(1); }, 10000));

    ::kill(s.process.pid(), SIGSTOP);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return a.w().messageLine->text() == "后台服务已停止,正在重新连接"; }, 4000));
    EXPECT_FALSE(a.rowShown(1));
    EXPECT_FALSE(a.w().meterNumbers[0]->isEnabled());

    ::kill(s.process.pid(), SIGCONT);
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.rowShown(1); }, 10000));
    EXPECT_TRUE(a.w().meterNumbers[0]->isEnabled());
    EXPECT_NE(a.w().messageLine->text(), "后台服务已停止,正在重新连接");
}

} // namespace
} // namespace mirv
