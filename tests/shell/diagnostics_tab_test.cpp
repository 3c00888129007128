#include "diagnostics_tab.h"
#include "frame_monitor_model.h"
#include "main_window.h"
#include "read_answer.h"
#include "station_window.h"
#include "temp_dir.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace mirv {
namespace {

// Meter 1 answers; meter 2 answers with exception 04, as its bytes go on the line.
TEST(DiagnosticsTab, ShowsTheTroubledMeterAndSavesWhatTheMonitorShows) {
    test::StationWindow st;
    MainWindow& w = st.w();
    w.engine()->pollTimer().stop();
    w.engine()->link().meterCount = "2";
    // The link's clock stands still until the test moves it.
    std::int64_t nowUs = MeterLink::steadyMicroseconds();
    w.engine()->link().clockUs = [&] { return nowUs; };
    // Until the link has read them: a fixed wait may end first on a busy machine.
    auto answerOnLine = [&](std::vector<std::uint8_t> bytes) {
        const std::uint64_t before = w.engine()->link().stats.line().bytesIn;
        ASSERT_EQ(::write(st.line.master(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return w.engine()->link().stats.line().bytesIn == before + bytes.size(); },
            5000));
    };
    w.engine()->link().onPollTick();
    const ReadAnswer good = buildAnswer(1, {});
    answerOnLine({good.begin(), good.end()});
    w.engine()->link().onPollTick();
    answerOnLine({0x02, 0x83, 0x04, 0x40, 0xF3});
    w.engine()->link().onPollTick();

    w.show();
    w.tabs->setCurrentIndex(5);
    DiagnosticsTab& tab = w.diagnosticsTab();
    ASSERT_TRUE(tab.isVisible());
    tab.refresh();
    ASSERT_EQ(tab.meterTable->rowCount(), 2);
    auto cell = [&](int row, int column) { return tab.meterTable->item(row, column)->text(); };
    EXPECT_EQ(cell(0, 2), "1");           // answers of meter 1
    EXPECT_EQ(cell(1, 3), "1");           // misses of meter 2
    EXPECT_EQ(cell(1, 9), "1(异常04)");   // its function reject, with the exception's code
    EXPECT_EQ(cell(0, 13).count('/'), 3); // meter 1's response times
    EXPECT_EQ(cell(1, 13), "");           // meter 2 never answered
    // Each row names its meter's read: no name given, the default profile's one read.
    EXPECT_EQ(cell(1, 15), "");
    EXPECT_EQ(cell(1, 16), "default");
    EXPECT_EQ(cell(1, 17), "03 @0x0030 ×91");
    // Meter 2 stands out for a minute after its trouble, meter 1 not at all.
    nowUs += 59'000'000;
    tab.refresh();
    EXPECT_EQ(tab.meterTable->item(0, 0)->background().style(), Qt::NoBrush);
    EXPECT_EQ(tab.meterTable->item(1, 0)->background().color(), QColor(255, 210, 210));
    nowUs += 2'000'000;
    tab.refresh();
    EXPECT_EQ(tab.meterTable->item(1, 0)->background().style(), Qt::NoBrush);

    tab.meterFilter->setCurrentIndex(tab.meterFilter->findData(2));
    const QAbstractItemModel& shown = *tab.monitorView->model();
    ASSERT_EQ(shown.rowCount(), 2);
    EXPECT_EQ(shown.index(0, FrameMonitorModel::VerdictColumn).data().toString(), "请求");
    EXPECT_EQ(shown.index(1, FrameMonitorModel::VerdictColumn).data().toString(), "异常应答");
    EXPECT_EQ(shown.index(1, FrameMonitorModel::BytesColumn).data().toString(), "02 83 04 40 F3");

    test::TempDir dir;
    QString suggested;
    tab.askSavePath = [&](const QString&, const QString& name, const QString&) {
        suggested = name;
        return QString::fromStdString(dir.str() + "/frames");
    };
    QTest::mouseClick(tab.saveButton, Qt::LeftButton);
    EXPECT_EQ(suggested, "通讯报文.txt");
    QFile saved(QString::fromStdString(dir.str() + "/frames.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QString expected = "时间\t仪表\t收发\t判定\t长度\t报文\n";
    for (int r = 0; r < shown.rowCount(); ++r) {
        QStringList texts;
        for (int c = 0; c < shown.columnCount(); ++c)
            texts << shown.index(r, c).data().toString();
        expected += texts.join('\t') + '\n';
    }
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), expected);

    // Paused, the monitor keeps its rows while the line goes on; 清零 empties the counters only.
    QTest::mouseClick(tab.pauseButton, Qt::LeftButton);
    EXPECT_EQ(tab.pauseButton->text(), "继续");
    w.engine()->link().onPollTick();
    tab.refresh();
    EXPECT_EQ(shown.rowCount(), 2);
    QTest::mouseClick(tab.resetButton, Qt::LeftButton);
    EXPECT_EQ(cell(1, 1), "0");
    EXPECT_EQ(cell(1, 3), "0");
    EXPECT_EQ(shown.rowCount(), 2);
    QTest::mouseClick(tab.pauseButton, Qt::LeftButton);
    tab.meterFilter->setCurrentIndex(0);
    EXPECT_EQ(shown.rowCount(), 6); // with the request sent while paused
}

} // namespace
} // namespace mirv
