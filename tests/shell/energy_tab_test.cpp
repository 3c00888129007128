#include "board_cell.h"
#include "day_summary_store.h"
#include "energy_tab.h"
#include "main_window.h"
#include "station_window.h"
#include "time_ticks.h"
#include "trend_chart.h"
#include "twips.h"

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace mirv {
namespace {

// Meter 1 every minute from 08:00 to 08:09 (no inlet temperature at 08:05) and again from 08:30
// to 08:35; meter 2 once, its heat total reset on the way.
constexpr const char* kHistory = R"(INSERT INTO Historydata (MeterID, TXTctemperature1,
    TXTctemperature2, TXTleijire_z, TXTleijileng_z, Foward, Reverse, CreateTime) VALUES
    ('1', '55.00', '47.00', '10.00', '0.00', '1.00', '0.00', '2025-05-01 08:00:00'),
    ('1', '55.10', '47.10', '10.50', '0.00', '1.50', '0.00', '2025-05-01 08:01:00'),
    ('1', '55.20', '47.20', '11.00', '0.00', '2.00', '0.00', '2025-05-01 08:02:00'),
    ('1', '55.30', '47.30', '11.50', '0.00', '2.50', '0.00', '2025-05-01 08:03:00'),
    ('1', '55.40', '47.40', '12.00', '0.00', '3.00', '0.00', '2025-05-01 08:04:00'),
    ('1', '',      '47.50', '12.50', '0.00', '3.50', '0.00', '2025-05-01 08:05:00'),
    ('1', '55.60', '47.60', '13.00', '0.00', '4.00', '0.00', '2025-05-01 08:06:00'),
    ('1', '59.90', '47.70', '13.50', '0.00', '4.50', '0.00', '2025-05-01 08:07:00'),
    ('1', '55.80', '47.80', '14.00', '0.00', '5.00', '0.00', '2025-05-01 08:08:00'),
    ('1', '55.90', '47.90', '14.50', '0.00', '5.50', '0.00', '2025-05-01 08:09:00'),
    ('2', '60.00', '50.00', '3.00',  '1.00', '7.00', '0.00', '2025-05-01 08:10:00'),
    ('1', '56.00', '48.00', '20.00', '0.00', '9.00', '0.00', '2025-05-01 08:30:00'),
    ('1', '56.10', '48.10', '0.25',  '0.00', '9.25', '0.00', '2025-05-01 08:31:00'),
    ('1', '56.20', '48.20', '0.50',  '0.00', '9.50', '0.00', '2025-05-01 08:32:00'),
    ('1', '56.30', '48.30', '0.75',  '0.00', '9.75', '0.00', '2025-05-01 08:33:00'),
    ('1', '56.40', '48.40', '1.00',  '0.00', '10.00', '0.00', '2025-05-01 08:34:00'),
    ('1', '56.50', '48.50', '1.25',  '0.00', '10.25', '0.00', '2025-05-01 08:35:00'))";

struct EnergyStation : test::StationWindow {
    EnergyStation() : StationWindow(kHistory) {
        tab().resize(1100, 420);
        w().show();
        w().tabs->setCurrentIndex(4);
        tab().fromField->setText("2025-05-01 08:00");
        tab().toField->setText("2025-05-01 09:00");
        tab().askSavePath = [this](const QString&, const QString& suggested, const QString&) {
            asked << suggested;
            return answer;
        };
    }
    EnergyTab& tab() { return w().energyTab(); }
    TrendChart& chart() { return *tab().chart; }
    // Clicks and waits for the worker to hand back its result.
    bool clickAndWait(QPushButton* button) {
        QSignalSpy finished(&tab(), &EnergyTab::jobFinished);
        QTest::mouseClick(button, Qt::LeftButton);
        return finished.wait(10000);
    }
    QStringList tableRow(int r) {
        QStringList cells;
        for (int c = 0; c < tab().energyTable->columnCount(); ++c)
            cells << tab().energyTable->item(r, c)->text();
        return cells;
    }
    // Where a record's time lies on the chart's view, once the chart has laid itself out.
    QPoint viewPointAt(std::int64_t timeMs, double y = 0.5) {
        QCoreApplication::processEvents();
        const QRectF area = chart().chart()->plotArea();
        const auto [from, to] = chart().visibleRange();
        const QPointF inChart(area.left() + area.width() * (timeMs - from) / double(to - from),
                              area.top() + area.height() * y);
        return chart().mapFromScene(chart().chart()->mapToScene(inChart));
    }
    std::int64_t msOf(const char* localTime) {
        return QDateTime::fromString(localTime, "yyyy-MM-dd HH:mm:ss").toMSecsSinceEpoch();
    }

    test::TempDir saveDir;
    QString answer;
    QStringList asked;
};

TEST(TimeTicks, RoundLocalTimesThatSuitTheSpan) {
    auto ms = [](const char* local) {
        return QDateTime::fromString(local, "yyyy-MM-dd HH:mm").toMSecsSinceEpoch();
    };
    const struct {
        const char* from;
        const char* to;
        int maxTicks;
        QStringList labels;
    } cases[] = {
        {"2025-06-15 00:00",
         "2025-06-16 00:00",
         11,
         {"06-15", "03:00", "06:00", "09:00", "12:00", "15:00", "18:00", "21:00", "06-16"}},
        {"2025-06-15 10:17", "2025-06-15 10:58", 6, {"10:20", "10:30", "10:40", "10:50"}},
        {"2025-03-01 00:00", "2025-04-01 00:00", 11, {"03-01", "03-08", "03-15", "03-22", "04-01"}},
        {"2024-12-30 12:00",
         "2025-01-03 00:00",
         5,
         {"2024-12-31", "2025-01-01", "2025-01-02", "2025-01-03"}},
        {"2025-01-01 00:00",
         "2026-01-01 00:00",
         11,
         {"2025-01", "2025-04", "2025-07", "2025-10", "2026-01"}},
        {"2025-01-01 00:00", "2025-01-01 00:00", 11, {"01-01"}},
        // At the tick limit: eleven minutes' ticks fit in eleven, not in ten.
        {"2025-06-15 10:00",
         "2025-06-15 10:10",
         11,
         {"10:00", "10:01", "10:02", "10:03", "10:04", "10:05", "10:06", "10:07", "10:08", "10:09",
          "10:10"}},
        {"2025-06-15 10:00",
         "2025-06-15 10:10",
         10,
         {"10:00", "10:02", "10:04", "10:06", "10:08", "10:10"}},
    };
    for (const auto& c : cases) {
        QStringList labels;
        for (const TimeTick& t : timeTicks(ms(c.from), ms(c.to), c.maxTicks)) {
            EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(t.ms).time().second(), 0);
            labels << t.label;
        }
        EXPECT_EQ(labels.join(' ').toStdString(), c.labels.join(' ').toStdString()) << c.from;
    }
}

TEST(EnergyTab, FollowsTheFourUnchangedTabs) {
    test::StationWindow s;
    QTabWidget* tabs = s.w().tabs;
    ASSERT_EQ(tabs->count(), 7);
    const QStringList captions = {"仪表数据1-10", "仪表数据11-20", "采集数据查询", "系统设置",
                                  "能耗与趋势",   "通讯诊断",      "报警事件"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(tabs->tabText(i), captions[i]);
    tabs->setCurrentIndex(4); // the tab's contents are made when it is first shown
    EXPECT_EQ(s.w().energyTab().parentWidget(), tabs->widget(4));
    EXPECT_EQ(s.w().energyTab().geometry(), tabs->widget(4)->rect());
    EXPECT_EQ(s.w().size(), QSize(1114, 512));
    EXPECT_EQ(tabs->geometry(), QRect(px(0), px(0), px(16695), px(6735)));
    // Controls of each of the four tabs, in twips from the tab control's top.
    const struct {
        QWidget* control;
        int tab, left, top, width, height;
    } places[] = {
        {s.w().boardCells[0][0], 0, 1320, 1140, 1140, 375},
        {s.w().boardCells[9][7], 0, 13560, 5460, 2100, 375},
        {s.w().boardCells[10][10], 1, 12120, 1200, 1380, 375},
        {s.w().boardCells[19][0], 1, 1320, 5580, 1140, 375},
        {s.w().fromField, 2, 840, 600, 1560, 375},
        {s.w().purgeButton, 2, 13080, 540, 1695, 495},
        {s.w().historyGrid, 2, 120, 1200, 16455, 5295},
        {s.w().pollIntervalField, 3, 1740, 960, 1080, 375},
        {s.w().saveButton, 3, 4200, 2760, 1215, 495},
    };
    for (const auto& p : places) {
        EXPECT_EQ(p.control->parentWidget(), tabs->widget(p.tab));
        EXPECT_EQ(p.control->geometry(),
                  QRect(px(p.left), px(p.top - 360), px(p.width), px(p.height)))
            << p.control->objectName().toStdString();
    }
    // Each of the four pages holds what it held before the fifth came, the board pages a name
    // beside each row's number and the settings page the meter table and its caption besides.
    const int children[] = {141, 141, 13, 15};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tabs->widget(i)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(),
                  children[i])
            << i;
}

TEST(EnergyTab, ComputesTheTableAndSavesItAsShown) {
    EnergyStation s;
    ASSERT_TRUE(s.clickAndWait(s.tab().computeButton));
    ASSERT_EQ(s.tab().energyTable->rowCount(), 3);
    EXPECT_EQ(s.tableRow(0), (QStringList{"1", "2025-05-01 08:00:00", "2025-05-01 08:35:00", "16",
                                          "11.00", "0.00", "9.25", "0.00", "21.0", "1", ""}));
    EXPECT_EQ(s.tableRow(2),
              (QStringList{"合计", "", "", "17", "11.00", "0.00", "9.25", "0.00", "", "", ""}));
    const QStringList captions = {"表号",           "开始时间",      "结束时间",     "记录数",
                                  "热量用量(kWh)",  "冷量用量(kWh)", "正向用量(m³)", "反向用量(m³)",
                                  "最长间隔(分钟)", "回退次数"};
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(s.tab().energyTable->horizontalHeaderItem(c)->text(), captions[c]);
    EXPECT_EQ(s.tab().progressBar->value(), 1000);
    EXPECT_FALSE(s.tab().cancelButton->isEnabled());

    s.answer = QString::fromStdString(s.saveDir.str()) + "/march";
    QTest::mouseClick(s.tab().csvButton, Qt::LeftButton);
    EXPECT_EQ(s.asked, QStringList{"能耗用量.csv"});
    QFile saved(s.answer + ".csv");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    ASSERT_EQ(lines.size(), 5); // captions, three rows, and nothing after the last line end
    EXPECT_TRUE(lines[0].startsWith("\xEF\xBB\xBF表号,开始时间,"));
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(lines[r + 1], s.tableRow(r).join(',').toUtf8() + "\r");
    EXPECT_TRUE(s.dialogs.messages.isEmpty());

    s.answer = QString::fromStdString(s.saveDir.str()) + "/no-such-folder/x.csv";
    QTest::mouseClick(s.tab().csvButton, Qt::LeftButton);
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].startsWith("保存失败：" + s.answer));
}

// Meter 2's name shows beside its number in the table, is saved last in the CSV, and its label
// picks it for the trend, whose title and status name it too.
TEST(EnergyTab, ANamedMeterShowsBesideItsNumberAndItsLabelDrawsItsTrend) {
    EnergyStation s;
    s.folder.exec("INSERT INTO Meters (Row, Address, Profile, Name) VALUES "
                  "(2, 2, 'default', '锅炉房')");
    ASSERT_TRUE(s.clickAndWait(s.tab().computeButton));
    ASSERT_EQ(s.tab().energyTable->rowCount(), 3);
    EXPECT_EQ(s.tableRow(1), (QStringList{"2", "2025-05-01 08:10:00", "2025-05-01 08:10:00", "1",
                                          "0.00", "0.00", "0.00", "0.00", "0.0", "0", "锅炉房"}));
    EXPECT_EQ(s.tableRow(0).last(), "");
    const QHeaderView* header = s.tab().energyTable->horizontalHeader();
    EXPECT_EQ(header->visualIndex(0), 0);
    EXPECT_EQ(header->visualIndex(10), 1);
    EXPECT_EQ(s.tab().energyTable->horizontalHeaderItem(10)->text(), "名称");

    s.answer = QString::fromStdString(s.saveDir.str()) + "/named.csv";
    QTest::mouseClick(s.tab().csvButton, Qt::LeftButton);
    QFile saved(s.answer);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains(
        "\r\n2,2025-05-01 08:10:00,2025-05-01 08:10:00,1,0.00,0.00,0.00,0.00,0.0,0,"
        "\xE9\x94\x85\xE7\x82\x89\xE6\x88\xBF\r\n"));

    s.tab().meterField->setText("2 锅炉房");
    s.tab().quantityBox->setCurrentIndex(2);
    ASSERT_TRUE(s.clickAndWait(s.tab().trendButton));
    EXPECT_EQ(s.tab().statusLine->text(), "仪表 2 锅炉房：1 条记录");
    EXPECT_TRUE(s.chart().chart()->title().startsWith("仪表 2 锅炉房"))
        << s.chart().chart()->title().toStdString();
}

TEST(EnergyTab, TrendBreaksZoomsResetsHoversAndSaves) {
    EnergyStation s;
    s.tab().meterField->setText("1");
    s.tab().quantityBox->setCurrentIndex(2); // the two temperatures together
    ASSERT_TRUE(s.clickAndWait(s.tab().trendButton));
    const auto& lines = s.chart().shownLines();
    ASSERT_EQ(lines.size(), 2u);
    auto runSizes = [&](int line) {
        std::vector<std::size_t> sizes;
        for (const TrendRun& r : s.chart().shownLines()[line].runs)
            sizes.push_back(r.size());
        return sizes;
    };
    // Inlet: broken at the empty cell and at the twenty minutes without records.
    EXPECT_EQ(runSizes(0), (std::vector<std::size_t>{5, 4, 6}));
    EXPECT_EQ(runSizes(1), (std::vector<std::size_t>{10, 6}));
    EXPECT_EQ(s.chart().visibleRange(),
              std::pair(s.msOf("2025-05-01 08:00:00"), s.msOf("2025-05-01 09:00:00")));
    EXPECT_EQ(s.chart().timeLabels().join(' ').toStdString(),
              "08:00 08:10 08:20 08:30 08:40 08:50 09:00");

    // A rubber band from 08:02:30 to 08:07:30 shows those minutes and a record on each side.
    QWidget* view = s.chart().viewport();
    QTest::mousePress(view, Qt::LeftButton, {}, s.viewPointAt(s.msOf("2025-05-01 08:02:30")));
    QTest::mouseMove(view, s.viewPointAt(s.msOf("2025-05-01 08:07:30")));
    QTest::mouseRelease(view, Qt::LeftButton, {}, s.viewPointAt(s.msOf("2025-05-01 08:07:30")));
    const auto [from, to] = s.chart().visibleRange();
    EXPECT_NEAR(from, s.msOf("2025-05-01 08:02:30"), 10000);
    EXPECT_NEAR(to, s.msOf("2025-05-01 08:07:30"), 10000);
    EXPECT_EQ(runSizes(0), (std::vector<std::size_t>{3, 3})); // 08:02 .. 08:04, 08:06 .. 08:08
    EXPECT_EQ(runSizes(1), (std::vector<std::size_t>{7}));

    // Hovering the peak at 08:07 names its time and both values.
    QTest::mouseMove(view, s.viewPointAt(s.msOf("2025-05-01 08:07:00")));
    EXPECT_EQ(s.chart().hoverText().toStdString(),
              "2025-05-01 08:07:00\n入口温度: 59.90 ℃\n出口温度: 47.70 ℃");

    QTest::mouseDClick(view, Qt::LeftButton, {}, s.viewPointAt(s.msOf("2025-05-01 08:05:00")));
    EXPECT_EQ(s.chart().visibleRange(),
              std::pair(s.msOf("2025-05-01 08:00:00"), s.msOf("2025-05-01 09:00:00")));

    s.answer = QString::fromStdString(s.saveDir.str()) + "/trend.png";
    QTest::mouseClick(s.tab().pngButton, Qt::LeftButton);
    QFile png(s.answer);
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    EXPECT_EQ(png.read(8), QByteArray("\x89PNG\r\n\x1a\n"));
}

// Meter 5 every ten minutes through 60 days of 2025, the two temperatures going up and down
// within each hour, and summed up by hours.
constexpr const char* kLongHistory = R"(INSERT INTO Historydata (MeterID, TXTctemperature1,
    TXTctemperature2, CreateTime)
    WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 8639)
    SELECT '5', printf('%.2f', 50 + (i * 7) % 13), printf('%.2f', 40 + (i * 5) % 11),
           strftime('%Y-%m-%d %H:%M:%S', '2025-01-01', '+' || (i * 10) || ' minutes') FROM k)";

TEST(EnergyTab, ZoomedIntoSummedUpHoursReadsEveryRecordAgain) {
    test::StationWindow station(kLongHistory);
    auto msOf = [](const char* localTime) {
        return QDateTime::fromString(localTime, "yyyy-MM-dd HH:mm:ss").toMSecsSinceEpoch();
    };
    ASSERT_EQ(buildDaySummaries(station.folder.databasePath()), std::nullopt);
    EnergyTab& tab = station.w().energyTab();
    tab.resize(1100, 420);
    station.w().show();
    station.w().tabs->setCurrentIndex(4);
    tab.fromField->setText("2025-01-01");
    tab.toField->setText("2025-03-02");
    tab.meterField->setText("5");
    tab.quantityBox->setCurrentIndex(2);
    TrendChart& chart = *tab.chart;
    {
        QSignalSpy finished(&tab, &EnergyTab::jobFinished);
        QTest::mouseClick(tab.trendButton, Qt::LeftButton);
        ASSERT_TRUE(finished.wait(10000));
    }
    EXPECT_EQ(tab.statusLine->text().toStdString(), "仪表 5：8640 条记录");
    auto points = [&] {
        std::size_t n = 0;
        for (const TrendRun& r : chart.shownLines()[0].runs)
            n += r.size();
        return n;
    };
    auto at = [&](std::int64_t ms) {
        QCoreApplication::processEvents();
        const QRectF area = chart.chart()->plotArea();
        const auto [from, to] = chart.visibleRange();
        const QPointF p(area.left() + area.width() * (ms - from) / double(to - from),
                        area.top() + area.height() / 2);
        return chart.mapFromScene(chart.chart()->mapToScene(p));
    };
    const std::int64_t start = msOf("2025-01-01 00:00:00");
    const std::int64_t zoomFrom = msOf("2025-01-20 00:00:00");
    const std::int64_t zoomTo = msOf("2025-01-22 00:00:00");
    QWidget* view = chart.viewport();
    QSignalSpy finished(&tab, &EnergyTab::jobFinished);
    QTest::mousePress(view, Qt::LeftButton, {}, at(zoomFrom));
    QTest::mouseMove(view, at(zoomTo));
    const QPoint release = at(zoomTo);
    QTest::mouseRelease(view, Qt::LeftButton, {}, release);
    const auto [from, to] = chart.visibleRange();
    constexpr std::int64_t kStep = 600000;
    const auto inView = static_cast<std::size_t>((to - start) / kStep - (from - start - 1) / kStep);
    const std::size_t fromHours = points();
    EXPECT_LT(fromHours, inView); // the hours' extremes only
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(points(), inView + 2); // every record, and one on each side
    EXPECT_EQ(tab.statusLine->text().toStdString(), "仪表 5：8640 条记录");

    // 2025-01-21 00:30 is record 2883: neither line's first, lowest, highest or last of its hour.
    QTest::mouseMove(view, at(msOf("2025-01-21 00:30:00")));
    EXPECT_EQ(chart.hoverText().toStdString(),
              "2025-01-21 00:30:00\n入口温度: 55.00 ℃\n出口温度: 45.00 ℃");
}

TEST(EnergyTab, RefusesWhatItCannotDraw) {
    EnergyStation s;
    const struct {
        const char* meter;
        const char* from;
        int quantity;
        const char* says;
    } cases[] = {
        {"全部", "2025-05-01 08:00", 0, "请填写一个仪表编号，或在表中选中一个仪表"},
        {"1", "2025-05-32", 0, "日期无效：请写成 2025-03-01 或 2025-03-01 08:00"},
        {"1", "2025-05-01 08:00", 1, "历史记录中没有流速"},
    };
    for (const auto& c : cases) {
        s.tab().meterField->setText(c.meter);
        s.tab().fromField->setText(c.from);
        s.tab().quantityBox->setCurrentIndex(c.quantity);
        QTest::mouseClick(s.tab().trendButton, Qt::LeftButton);
        EXPECT_FALSE(s.tab().running());
        EXPECT_EQ(s.tab().statusLine->text(), c.says);
    }
    auto* quantities = qobject_cast<QStandardItemModel*>(s.tab().quantityBox->model());
    EXPECT_FALSE(quantities->item(1)->isEnabled()); // 流速 is never logged

    // With all meters, the table's selected row names the meter.
    s.tab().meterField->setText("全部");
    s.tab().fromField->setText("2025-05-01 08:00");
    s.tab().quantityBox->setCurrentIndex(7);
    ASSERT_TRUE(s.clickAndWait(s.tab().computeButton));
    s.tab().energyTable->selectRow(1);
    ASSERT_TRUE(s.clickAndWait(s.tab().trendButton));
    EXPECT_EQ(s.tab().statusLine->text(), "仪表 2：1 条记录");
}

} // namespace
} // namespace mirv
