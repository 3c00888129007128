#include "database.h"
#include "event_journal.h"
#include "events_tab.h"
#include "main_window.h"
#include "station_window.h"
#include "twips.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QCompleter>
#include <QDate>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace mirv {
namespace {

struct QueryTab : test::StationWindow {
    QueryTab()
        : StationWindow(R"(INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse,
            TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z,
            TXTleijileng_z, Alarmstatus, CreateTime) VALUES
            ('1', '12.5000', '123456.75', '0.00', '61.25', '', '-3.5000', '0.0000',
             '2000000005.50', '0.00', '通讯正常,空管报警', '2026-05-06 10:20:00'),
            ('2', '1.0000', '1.00', '2.00', '3.00', '4.00', '5.0000', '6.0000', '7.00', '8.00',
             '通讯正常', '2026-05-06 10:25:00'),
            ('1', '2.0000', '1.00', '2.00', '3.00', '4.00', '5.0000', '6.0000', '7.00', '8.00',
             '通讯正常', '2026-05-06 10:30:00'))") {
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("|").toStdString();
    }
    QAbstractItemModel* grid() { return w().historyGrid->model(); }
    void query(const QString& meter, const QString& from, const QString& to, const QString& step) {
        w().meterField->setText(meter);
        w().fromField->setText(from);
        w().toField->setText(to);
        w().stepField->setText(step);
        QTest::mouseClick(w().queryButton, Qt::LeftButton);
    }
};

TEST(QueryTab, ClickShowsCaptionedReadOnlyColumnsAndRows) {
    QueryTab t;
    t.query("全部", "2026-05-06", "2026-05-07", "10");
    QAbstractItemModel* grid = t.grid();
    const char* captions[] = {"ID",       "仪表编号", "瞬时流量", "正向累计", "反向累计",
                              "入口温度", "出口温度", "瞬时热量", "瞬时冷量", "累积热量",
                              "累积冷量", "报警状态", "日期时间"};
    const int widths[] = {800,  1000, 1200, 1400, 1300, 1000, 1000,
                          1000, 1000, 1300, 1300, 2000, 2000};
    ASSERT_EQ(grid->columnCount(), 13);
    for (int c = 0; c < 13; ++c) {
        EXPECT_EQ(grid->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(captions[c]));
        EXPECT_EQ(t.w().historyGrid->columnWidth(c), px(widths[c])) << c;
        EXPECT_FALSE(t.w().historyGrid->isColumnHidden(c));
    }
    ASSERT_EQ(grid->rowCount(), 2); // minute 25 is not a multiple of 10
    const QStringList first{"1",
                            "1",
                            "12.5000",
                            "123456.75",
                            "0.00",
                            "61.25",
                            "",
                            "-3.5000",
                            "0.0000",
                            "2000000005.50",
                            "0.00",
                            "通讯正常,空管报警",
                            "2026-05-06 10:20:00"};
    for (int c = 0; c < 13; ++c) {
        const QModelIndex index = grid->index(0, c);
        EXPECT_EQ(grid->data(index).toString(), first[c]) << c;
        EXPECT_EQ(grid->data(index, Qt::ToolTipRole).toString(), first[c]) << c;
        EXPECT_FALSE(grid->flags(index) & Qt::ItemIsEditable) << c;
    }
    EXPECT_EQ(grid->data(grid->index(1, 12)).toString(), "2026-05-06 10:30:00");

    // Editing a cell through the view changes nothing.
    t.w().historyGrid->edit(grid->index(0, 2));
    EXPECT_EQ(grid->data(grid->index(0, 2)).toString(), "12.5000");
}

// A named meter shows with its name in the grid, and the meter field offers and takes its label.
TEST(QueryTab, ANamedMeterShowsBesideItsNumberAndItsLabelSelectsIt) {
    QueryTab t;
    t.folder.exec("INSERT INTO Meters (Row, Address, Profile, Name) VALUES "
                  "(1, 1, 'default', '锅炉房')");
    t.w().tabs->setCurrentIndex(2);
    QCompleter* offered = t.w().meterField->completer();
    ASSERT_NE(offered, nullptr);
    offered->setCompletionPrefix("锅炉");
    EXPECT_EQ(offered->currentCompletion(), "1 锅炉房");

    t.query("1 锅炉房", "2026-05-06", "2026-05-07", "1");
    QAbstractItemModel* grid = t.grid();
    ASSERT_EQ(grid->rowCount(), 2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(grid->data(grid->index(r, 1)).toString(), "1 锅炉房") << r;
        EXPECT_EQ(grid->data(grid->index(r, 2)).toString(), r == 0 ? "12.5000" : "2.0000");
    }
    EXPECT_EQ(t.w().criteria().meter, "1");
    EXPECT_EQ(t.w().historyGrid->columnWidth(1), px(2000));

    t.query("全部", "2026-05-06", "2026-05-07", "1");
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->data(grid->index(1, 1)).toString(), "2");
}

// The journal knows a meter by its board row, which the Meters table puts at another address:
// its column and filter show the row's name beside the row's number, and the filter picks it.
TEST(EventsTab, TheJournalShowsANamedMeterByItsLabel) {
    test::StationWindow s(
        std::string(kEventTablesSql) +
        "INSERT INTO Meters (Row, Address, Profile, Name) VALUES (2, 101, 'default', '锅炉房');"
        "INSERT INTO Events (CreateTime, UtcTime, MeterID, Kind, Phase, Text, Detail, User) "
        "VALUES ('2026-05-06 08:00:00', '2026-05-06T00:00:00Z', 2, 'silent', 'begin', 'a', "
        "'', ''), ('2026-05-06 08:01:00', '2026-05-06T00:01:00Z', 1, 'silent', 'begin', 'b', "
        "'', '')");
    EventsTab& tab = s.w().eventsTab();
    tab.fromField->setText("2026-05-06");
    tab.toField->setText("2026-05-07");
    QTest::mouseClick(tab.queryButton, Qt::LeftButton);
    ASSERT_EQ(tab.journalTable->rowCount(), 2);
    EXPECT_EQ(tab.journalTable->item(0, 1)->text(), "2 锅炉房");
    EXPECT_EQ(tab.journalTable->item(1, 1)->text(), "1");
    const int named = tab.meterFilter->findData(2);
    ASSERT_GE(named, 0);
    EXPECT_EQ(tab.meterFilter->itemText(named), "2 锅炉房");
    tab.meterFilter->setCurrentIndex(named);
    QTest::mouseClick(tab.queryButton, Qt::LeftButton);
    ASSERT_EQ(tab.journalTable->rowCount(), 1);
    EXPECT_EQ(tab.journalTable->item(0, 2)->text(), "a");
    EXPECT_EQ(tab.meterFilter->currentData().toInt(), 2);
}

TEST(QueryTab, NoMatchShowsTheCaptionedColumnsAndNoRows) {
    QueryTab t;
    t.query("全部", "2026-05-06", "2026-05-07", "1");
    ASSERT_EQ(t.grid()->rowCount(), 3);
    for (const auto& [meter, step] : {std::pair{"9", "1"}, std::pair{"1", "abc"}}) {
        t.query(meter, "2026-05-06", "2026-05-07", step);
        EXPECT_EQ(t.grid()->rowCount(), 0) << meter << " " << step;
        EXPECT_EQ(t.grid()->columnCount(), 13);
        EXPECT_EQ(t.grid()->headerData(12, Qt::Horizontal).toString(), "日期时间");
        EXPECT_TRUE(t.dialogs.messages.isEmpty());
    }
}

TEST(QueryTab, StartsWithTodayToTomorrowAllMetersStepTen) {
    QueryTab t;
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(t.w().fromField->text(), today);
    EXPECT_EQ(t.w().meterField->text(), "全部");
    EXPECT_EQ(t.w().stepField->text(), "10");
    QTest::mouseClick(t.w().queryButton, Qt::LeftButton);
    EXPECT_EQ(t.grid()->rowCount(), 0); // the stored rows are from another day
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

long long count(const test::ProgramFolder& f, const char* table) {
    Database db(f.databasePath());
    Statement q(db, std::string("SELECT count(*) FROM ") + table);
    return q.step() ? q.integer(0) : -1;
}

const QString kPurgeQuestion = QStringLiteral("|请确认删除全部历史记录数据?");

TEST(Purge, AnsweredNoChangesNothingAndYesEmptiesHistoryAndGrid) {
    for (bool yes : {false, true}) {
        QueryTab t;
        t.query("全部", "2026-05-06", "2026-05-07", "1");
        ASSERT_EQ(t.grid()->rowCount(), 3);
        t.dialogs.answers = {yes};
        QTest::mouseClick(t.w().purgeButton, Qt::LeftButton);
        EXPECT_EQ(t.dialogs.questions, QStringList{kPurgeQuestion});
        EXPECT_TRUE(t.dialogs.messages.isEmpty());
        EXPECT_EQ(count(t.folder, "Historydata"), yes ? 0 : 3);
        EXPECT_EQ(t.grid()->rowCount(), yes ? 0 : 3);
        EXPECT_EQ(t.grid()->columnCount(), 13);
        EXPECT_EQ(count(t.folder, "mirve"), 1);
    }
}

TEST(Purge, FailuresKeepTheGrid) {
    {
        QueryTab t; // the delete itself fails: told, and the grid still shows the rows
        t.query("全部", "2026-05-06", "2026-05-07", "1");
        t.folder.exec("CREATE TRIGGER refuse BEFORE DELETE ON Historydata "
                      "BEGIN SELECT RAISE(ABORT, 'deleting is refused'); END;");
        t.dialogs.answers = {true};
        QTest::mouseClick(t.w().purgeButton, Qt::LeftButton);
        EXPECT_EQ(t.dialogs.messages, QStringList{"删除历史记录数据失败!\r\ndeleting is refused"});
        EXPECT_EQ(t.grid()->rowCount(), 3);
        EXPECT_EQ(count(t.folder, "Historydata"), 3);
    }
    {
        QueryTab t; // the database cannot be opened: nothing deleted, nothing said
        t.query("全部", "2026-05-06", "2026-05-07", "1");
        std::filesystem::remove(t.folder.databasePath());
        t.dialogs.answers = {true};
        QTest::mouseClick(t.w().purgeButton, Qt::LeftButton);
        EXPECT_TRUE(t.dialogs.messages.isEmpty());
        EXPECT_EQ(t.grid()->rowCount(), 3);
        EXPECT_FALSE(std::filesystem::exists(t.folder.databasePath()));
    }
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

// Rows past the first page, thousands further on, and the first pages again once the page
// cache has let them go: each row's own texts.
TEST(QueryTab, RowsPastTheFirstPageAndAfterTheCacheWasEmptied) {
    test::StationWindow s(R"(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
                               WHERE i < 6000)
        INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1,
            TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z,
            Alarmstatus, CreateTime)
        SELECT '7', '0.0000', i || '.00', '0.00', '', '', '0.0000', '0.0000', '0.00', '0.00',
            '通讯正常', datetime('2026-05-08 00:00:00', '+' || i || ' minutes') FROM n)");
    s.w().meterField->setText("7");
    s.w().fromField->setText("2026-05-08");
    s.w().toField->setText("2026-05-13");
    s.w().stepField->setText("1");
    QTest::mouseClick(s.w().queryButton, Qt::LeftButton);
    QAbstractItemModel* grid = s.w().historyGrid->model();
    ASSERT_EQ(grid->rowCount(), 6000);
    // Row r is the (r+1)-th minute: its forward total reads r+1 and its time that minute.
    auto forward = [&](int r) { return grid->data(grid->index(r, 3)).toString(); };
    auto time = [&](int r) { return grid->data(grid->index(r, 12)).toString(); };
    const struct {
        int row;
        const char* forward;
        const char* time;
    } rows[] = {{0, "1.00", "2026-05-08 00:01:00"},
                {255, "256.00", "2026-05-08 04:16:00"},
                {256, "257.00", "2026-05-08 04:17:00"},
                {4000, "4001.00", "2026-05-10 18:41:00"},
                {5999, "6000.00", "2026-05-12 04:00:00"}};
    for (const auto& r : rows) {
        EXPECT_EQ(forward(r.row), r.forward) << r.row;
        EXPECT_EQ(time(r.row), r.time) << r.row;
    }
    for (int r = 0; r < 6000; r += 256) // every page once: the first ones leave the cache
        EXPECT_EQ(forward(r), QString::number(r + 1) + ".00") << r;
    for (const auto& r : rows) {
        EXPECT_EQ(forward(r.row), r.forward) << r.row;
        EXPECT_EQ(time(r.row), r.time) << r.row;
    }
}

} // namespace
} // namespace mirv
