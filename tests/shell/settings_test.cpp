#include "board_cell.h"
#include "database.h"
#include "forked_user.h"
#include "main_window.h"
#include "single_instance.h"
#include "station_window.h"
#include "translations.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace mirv {
namespace {

struct StoredRow {
    std::string timer, minute, com, Settings, num;
    bool operator==(const StoredRow&) const = default;
};

StoredRow storedRow(const test::ProgramFolder& f) {
    Database db(f.databasePath());
    Statement q(db, R"(SELECT "timer", "minute", "com", "Settings", "num" FROM mirve)");
    EXPECT_TRUE(q.step());
    return {q.text(0), q.text(1), q.text(2), q.text(3), q.text(4)};
}

struct Station : test::StationWindow {
    Station()
        : StationWindow(R"(UPDATE mirve SET ("timer", "minute", "com", "Settings", "num") =
                           ('1500', '5', 3, '19200', '4'))",
                        3) {}
};

const StoredRow kStored{"1500", "5", "3", "19200", "4"};
const QString kIntervalMessage = QStringLiteral("发送间隔必须输入大于200的数字且小于65535");
const QString kSaveQuestion =
    QStringLiteral("提示|修改端口后必须重新进入本系统，请确认修改并退出系统?");

TEST(Save, ValidatesTheIntervalAsksAndWritesTheFirstRow) {
    const struct {
        const char* interval;
        bool yes;
        bool refused;
        bool written;
    } cases[] = {
        {"199", true, true, false},   {"200", true, false, true},   {"200", false, false, false},
        {"65535", true, true, false}, {"65534", true, false, true}, {"99999", true, true, false},
        {"", true, true, false},      {"abc", true, true, false},
    };
    for (const auto& c : cases) {
        Station s;
        s.dialogs.answers = {c.yes};
        s.w().pollIntervalField->setText(c.interval);
        s.w().recordIntervalField->setText("7");
        s.w().portBox->setCurrentText("com5");
        s.w().baudBox->setCurrentText("4800");
        s.w().meterCountBox->setCurrentText("12");
        QTest::mouseClick(s.w().saveButton, Qt::LeftButton);
        const std::string name = std::string(c.interval) + (c.yes ? " yes" : " no");
        if (c.refused) {
            EXPECT_EQ(s.dialogs.messages, QStringList{kIntervalMessage}) << name;
            EXPECT_TRUE(s.dialogs.questions.isEmpty()) << name;
        } else {
            EXPECT_TRUE(s.dialogs.messages.isEmpty()) << name;
            EXPECT_EQ(s.dialogs.questions, QStringList{kSaveQuestion}) << name;
        }
        EXPECT_EQ(s.dialogs.ended, c.written ? 1 : 0) << name;
        const StoredRow expected =
            c.written ? StoredRow{c.interval, "7", "5", "4800", "12"} : kStored;
        EXPECT_EQ(storedRow(s.folder), expected) << name;
        EXPECT_TRUE(s.w().engine()->pollTimer().isActive())
            << name << ": the running station is unchanged";
    }
}

// The meter table is stored with the settings: the rows the operator filled in, each checked.
TEST(Save, TheMeterTableIsCheckedAndStoredWithTheSettings) {
    const struct {
        const char* name;
        const char* row2Address;
        const char* row5Address;
        const char* refused; // the message, or nothing when stored
        const char* stored;  // Row:Address:Profile:Name:Polled, by row
    } cases[] = {
        {"two rows", "17", "", nullptr, "2:17:default:boiler:1,5:5:default::0"},
        {"address 0", "0", "", "第2行仪表地址必须是1到247之间的整数", ""},
        {"address 248", "248", "", "第2行仪表地址必须是1到247之间的整数", ""},
        {"not a number", "1a", "", "第2行仪表地址必须是1到247之间的整数", ""},
        {"same address twice", "17", "17", "第5行与第2行仪表地址相同", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Station s;
        s.dialogs.answers = {true};
        QTableWidget* t = s.w().meterTable;
        t->item(1, 0)->setText(c.row2Address);
        t->item(1, 2)->setText("boiler");
        t->item(4, 0)->setText(c.row5Address);
        t->item(4, 3)->setCheckState(Qt::Unchecked);
        QTest::mouseClick(s.w().saveButton, Qt::LeftButton);
        Database db(s.folder.databasePath());
        Statement q(db, "SELECT group_concat(Row || ':' || Address || ':' || Profile || ':' || "
                        "ifnull(Name, '') || ':' || Polled, ',') FROM (SELECT * FROM Meters "
                        "ORDER BY Row)");
        ASSERT_TRUE(q.step());
        EXPECT_EQ(q.isNull(0) ? "" : q.text(0), c.stored);
        EXPECT_EQ(s.dialogs.messages,
                  c.refused ? QStringList{QString::fromUtf8(c.refused)} : QStringList{});
        EXPECT_EQ(s.dialogs.ended, c.refused ? 0 : 1);
    }
}

TEST(Save, PortNameInCapitalsKeepsTheStoredPort) {
    for (const char* port : {"COM5", "com11", "", "com 5"}) {
        Station s;
        s.dialogs.answers = {true};
        s.w().portBox->setCurrentText(port);
        s.w().recordIntervalField->setText("9");
        QTest::mouseClick(s.w().saveButton, Qt::LeftButton);
        EXPECT_EQ(storedRow(s.folder), (StoredRow{"1500", "9", "3", "19200", "4"})) << port;
        EXPECT_EQ(s.dialogs.ended, 1);
    }
}

TEST(Save, PortTenIsStoredAsTen) {
    Station s;
    s.dialogs.answers = {true};
    s.w().portBox->setCurrentText("com10");
    QTest::mouseClick(s.w().saveButton, Qt::LeftButton);
    EXPECT_EQ(storedRow(s.folder).com, "10");
}

TEST(Save, OnlyTheFirstRowChanges) {
    Station s;
    s.folder.exec(R"(INSERT INTO mirve VALUES ('3000', '2', 2, '600', '2'))");
    s.dialogs.answers = {true};
    s.w().pollIntervalField->setText("800");
    QTest::mouseClick(s.w().saveButton, Qt::LeftButton);
    Database db(s.folder.databasePath());
    Statement q(db, R"(SELECT "timer" FROM mirve ORDER BY rowid)");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.text(0), "800");
    ASSERT_TRUE(q.step());
    EXPECT_EQ(q.text(0), "3000");
}

TEST(Save, DatabaseFailureShowsItsDescriptionAndEnds) {
    Station s;
    std::filesystem::remove(s.folder.databasePath());
    s.dialogs.answers = {true};
    QTest::mouseClick(s.w().saveButton, Qt::LeftButton);
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].startsWith("Could not find file"));
    EXPECT_EQ(s.dialogs.ended, 1);
}

TEST(Exit, AsksAndEndsOnYesOnly) {
    for (bool yes : {true, false}) {
        Station s;
        s.dialogs.answers = {yes};
        QTest::mouseClick(s.w().exitButton, Qt::LeftButton);
        EXPECT_EQ(s.dialogs.questions, QStringList{"提示|请确认是否退出系统?"});
        EXPECT_EQ(s.dialogs.ended, yes ? 1 : 0);
    }
}

TEST(Window, RefusesToCloseAndUnloadStopsPolling) {
    Station s;
    s.w().show();
    EXPECT_FALSE(s.w().close());
    EXPECT_TRUE(s.w().isVisible());
    EXPECT_FALSE(s.w().windowFlags() & Qt::WindowCloseButtonHint);
    s.w().unload();
    EXPECT_FALSE(s.w().engine()->pollTimer().isActive());
}

TEST(Window, IntervalFieldsTakeDigitsOnly) {
    const struct {
        QLineEdit* MainWindow::*field;
        const char* typed;
        const char* shown;
    } cases[] = {
        {&MainWindow::pollIntervalField, "12a3b", "123"},
        {&MainWindow::pollIntervalField, "1234567", "12345"},
        {&MainWindow::pollIntervalField, "+12", "12"},
        {&MainWindow::pollIntervalField, "-7", "7"},
        {&MainWindow::recordIntervalField, "9x9", "99"},
        {&MainWindow::recordIntervalField, "12345", "123"},
    };
    for (const auto& c : cases) {
        Station s;
        QLineEdit* field = s.w().*c.field;
        field->clear();
        QTest::keyClicks(field, c.typed);
        EXPECT_EQ(field->text(), c.shown) << c.typed;
    }
    // What start-up put there is kept whole.
    test::StationWindow s(R"(UPDATE mirve SET "timer" = '100000', "minute" = '1440')");
    EXPECT_EQ(s.w().pollIntervalField->text(), "100000");
    EXPECT_EQ(s.w().recordIntervalField->text(), "1440");
}

// While rows wait for the database the message line says why in red, and goes back to what it
// showed before (empty or not) once they are written.
TEST(Window, MessageLineTellsOfRowsWaitingForTheDatabase) {
    using Step = std::function<void(Station&, std::unique_ptr<Database>&)>;
    const std::string pendingName = "/mirv.mdb-pending.csv";
    const struct {
        const char* name;
        const char* before; // the message line's text before the rows had to wait
        Step block, unblock;
        const char* shown;
    } cases[] = {
        {"database removed", "",
         [](Station& s, auto&) {
             std::filesystem::rename(s.folder.databasePath(), s.folder.databasePath() + ".away");
         },
         [](Station& s, auto&) {
             std::filesystem::rename(s.folder.databasePath() + ".away", s.folder.databasePath());
         },
         "数据库文件不存在,等待恢复"},
        {"database held by another writer", "记录时间设置无效,已使用默认值1分钟",
         [](Station& s, std::unique_ptr<Database>& holder) {
             holder = std::make_unique<Database>(s.folder.databasePath());
             ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE"));
         },
         [](Station&, std::unique_ptr<Database>& holder) { holder.reset(); },
         "历史数据写入失败,等待重试"},
        {"not even the pending rows file can be written", "other text",
         [&](Station& s, std::unique_ptr<Database>& holder) {
             std::filesystem::create_directory(s.folder.path() + pendingName);
             holder = std::make_unique<Database>(s.folder.databasePath());
             ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE"));
         },
         [&](Station& s, std::unique_ptr<Database>& holder) {
             holder.reset();
             std::filesystem::remove(s.folder.path() + pendingName);
         },
         "历史数据写入失败,暂存文件也无法写入,退出将丢失数据!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Station s;
        s.w().engine()->setMessage(c.before);
        s.w().engine()->board().setRow(1, BoardRow{"1.0000"});
        s.w().engine()->board().setAnswered(1, true);
        std::unique_ptr<Database> holder;
        c.block(s, holder);
        s.w().engine()->logger().recordAll();
        ASSERT_TRUE(s.w().engine()->historyWriter().waitIdle(std::chrono::seconds(10)));
        QTest::qWait(50);
        EXPECT_EQ(s.w().messageLine->text(), QString::fromUtf8(c.shown));
        EXPECT_EQ(s.w().messageLine->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        c.unblock(s, holder);
        s.w().engine()->logger().recordAll();
        ASSERT_TRUE(s.w().engine()->historyWriter().waitIdle(std::chrono::seconds(10)));
        QTest::qWait(50);
        EXPECT_EQ(s.w().messageLine->text(), QString::fromUtf8(c.before));
        Database db(s.folder.databasePath());
        Statement q(db, "SELECT count(*) FROM Historydata");
        ASSERT_TRUE(q.step());
        EXPECT_EQ(q.integer(0), 2);
        EXPECT_FALSE(std::filesystem::exists(s.folder.path() + pendingName));
    }
}

TEST(Window, StandardButtonsSpeakChinese) {
    installChineseStandardButtons(*QCoreApplication::instance());
    QMessageBox box(QMessageBox::NoIcon, "mirv-station", "?",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), "是(&Y)");
    EXPECT_EQ(box.button(QMessageBox::No)->text(), "否(&N)");
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "确定");
}

TEST(Window, ComboBoxesNeverAddWhatIsTyped) {
    Station s;
    for (QComboBox* box : {s.w().meterCountBox, s.w().baudBox, s.w().portBox}) {
        const int before = box->count();
        box->lineEdit()->clear();
        QTest::keyClicks(box->lineEdit(), "xyz");
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        EXPECT_EQ(box->count(), before);
        EXPECT_EQ(box->currentText(), "xyz");
    }
}

// Rows on the tab in view change at once; rows on the other tab show their latest texts when
// it is opened. A cell's tool tip is its whole text.
TEST(Window, BoardShowsRowsAndBlanksThem) {
    Station s;
    BoardRow first, second;
    for (int i = 0; i < kCells; ++i) {
        first[i] = "v" + std::to_string(i);
        second[i] = "w" + std::to_string(i);
    }
    second[StatusCell] = "通讯正常,励磁报警,电极报警,空管报警,上限报警,下限报警";
    s.w().engine()->board().setRow(3, first);
    s.w().engine()->board().setRow(13, first);
    s.w().engine()->board().setRow(13, second);
    for (int i = 0; i < kCells; ++i)
        EXPECT_EQ(s.w().boardCells[2][i]->text().toStdString(), first[i]);
    s.w().tabs->setCurrentIndex(1);
    for (int i = 0; i < kCells; ++i) {
        EXPECT_EQ(s.w().boardCells[12][i]->text().toStdString(), second[i]);
        EXPECT_EQ(s.w().boardCells[12][i]->toolTip().toStdString(), second[i]);
    }
    s.w().engine()->board().clearRow(13);
    for (int i = 0; i < kCells; ++i)
        EXPECT_EQ(s.w().boardCells[12][i]->text(), "");
    s.w().engine()->board().clearRow(3);
    s.w().tabs->setCurrentIndex(0);
    EXPECT_EQ(s.w().boardCells[2][0]->text(), "");
}

// A row's name stands left of its number as far as there is room; its whole label is the tool
// tip.
TEST(Window, BoardNamesRowsBesideTheirNumbers) {
    test::StationWindow s(
        "INSERT INTO Meters (Row, Address, Profile, Name) VALUES (2, 17, 'default', '锅炉房'),"
        "(3, 3, 'default', '东区一号换热站二号机组回水'), (4, 4, 'default', NULL)");
    const auto& names = s.w().meterNames;
    EXPECT_EQ(names[1]->text(), "锅炉房");
    EXPECT_EQ(s.w().meterNumbers[1]->toolTip(), "17 锅炉房");
    EXPECT_TRUE(names[2]->text().endsWith("…")) << names[2]->text().toStdString();
    EXPECT_LE(names[2]->fontMetrics().horizontalAdvance(names[2]->text()), names[2]->width());
    EXPECT_EQ(s.w().meterNumbers[2]->toolTip(), "3 东区一号换热站二号机组回水");
    EXPECT_EQ(names[3]->text(), "");
    EXPECT_EQ(s.w().meterNumbers[3]->toolTip(), "4");
    EXPECT_EQ(names[0]->text(), "");
    EXPECT_EQ(s.w().meterNumbers[0]->toolTip(), "");
}

// The edge between the tabs: meter 10, the first tab's last row, changes while that tab is
// shown, meter 11 only once the second tab is.
TEST(Window, LastRowOfTheFirstTabAndFirstRowOfTheSecond) {
    Station s;
    s.w().show();
    ASSERT_EQ(s.w().tabs->currentIndex(), 0);
    s.w().engine()->board().setRow(10, BoardRow{"10.0000"});
    s.w().engine()->board().setRow(11, BoardRow{"11.0000"});
    EXPECT_EQ(s.w().boardCells[9][0]->text(), "10.0000");
    EXPECT_EQ(s.w().boardCells[10][0]->text(), "");
    s.w().tabs->setCurrentIndex(1);
    EXPECT_EQ(s.w().boardCells[10][0]->text(), "11.0000");
    s.w().engine()->board().setRow(10, BoardRow{"10.5000"});
    s.w().engine()->board().setRow(11, BoardRow{"11.5000"});
    EXPECT_EQ(s.w().boardCells[9][0]->text(), "10.0000");
    EXPECT_EQ(s.w().boardCells[10][0]->text(), "11.5000");
    s.w().tabs->setCurrentIndex(0);
    EXPECT_EQ(s.w().boardCells[9][0]->text(), "10.5000");
}

// A folder where the lock file cannot be made at all is no second copy: the operator is told
// which folder and why.
TEST(SingleCopy, FolderWhereNoLockCanBeMadeIsNotASecondCopy) {
    test::TempDir dir;
    std::ofstream(dir.path() / "file") << "not a folder";
    const QString folder = QString::fromStdString((dir.path() / "file" / "station").string());
    SingleInstance instance(folder);
    EXPECT_EQ(instance.outcome(), SingleInstance::FolderNotWritable);
    EXPECT_EQ(folderNotWritableMessage(folder, instance.failure()),
              QStringLiteral("程序目录不可写,无法启动!\r\n") + folder +
                  QStringLiteral("\r\nNot a directory"));
}

TEST(SingleCopy, SecondCopyInTheSameFolderIsRefusedAndAStaleLockIsNot) {
    test::TempDir dir;
    const QString folder = QString::fromStdString(dir.str());
    {
        SingleInstance first(folder);
        EXPECT_TRUE(first.acquired());
        SingleInstance second(folder);
        EXPECT_EQ(second.outcome(), SingleInstance::OtherCopyRunning);
    }
    // A lock left by a copy that crashed: its process is gone.
    pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    std::ofstream(dir.path() / "mirv-station.lock")
        << dead << "\nmirv-station\n"
        << QSysInfo::machineHostName().toStdString() << "\n";
    SingleInstance afterCrash(folder);
    EXPECT_TRUE(afterCrash.acquired());
}

// Two operators share a group-writable folder with umask 022: the first one's copy was
// killed; the second one's starts, and a third copy is refused while it runs.
TEST(SingleCopy, LockOfAKilledCopyOfAnotherOperatorKeepsNoOneOut) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.str().c_str(), 02775), 0);
    if (test::runningAsRoot()) {
        ASSERT_EQ(::chown(dir.str().c_str(), 0, test::kOperatorsGroup), 0);
    }
    const QString folder = QString::fromStdString(dir.str());
    const test::ForkedUser first{
        test::kFirstOperator, test::kFirstOperator, {test::kOperatorsGroup}};
    const test::ForkedUser second{
        test::kSecondOperator, test::kSecondOperator, {test::kOperatorsGroup}};
    EXPECT_EQ(test::runInChild(022, first,
                               [&] {
                                   SingleInstance instance(folder);
                                   if (instance.acquired())
                                       ::kill(::getpid(), SIGKILL);
                                   return 1;
                               }),
              128 + SIGKILL);
    const auto start = [&] {
        return test::runInChild(022, second, [&] { return SingleInstance(folder).outcome() + 10; });
    };
    EXPECT_EQ(start(), 10 + SingleInstance::Acquired);
    SingleInstance running(folder);
    ASSERT_TRUE(running.acquired());
    EXPECT_EQ(start(), 10 + SingleInstance::OtherCopyRunning);
}

} // namespace
} // namespace mirv
