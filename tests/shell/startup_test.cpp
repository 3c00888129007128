#include "background_upgrade.h"
#include "child_process.h"
#include "database.h"
#include "main_window.h"
#include "program_folder.h"
#include "pty_pair.h"
#include "scripted_dialogs.h"

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace mirv {
namespace {

struct Started {
    test::ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    explicit Started(const test::ProgramFolder& folder) {
        window = std::make_unique<MainWindow>(QString::fromStdString(folder.path()), dialogs);
        window->startUp();
    }
    MainWindow& w() { return *window; }
};

void setRow(const test::ProgramFolder& f, const std::string& values) {
    f.exec("UPDATE mirve SET (\"timer\", \"minute\", \"com\", \"Settings\", \"num\") = (" + values +
           ")");
}

TEST(Startup, FromTheStoredRow) {
    test::ProgramFolder folder;
    test::PtyPair pty;
    folder.linkPort(3, pty.slaveName());
    setRow(folder, "'1500', '5', 3, '19200', '4'");
    Started s(folder);
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join("|").toStdString();
    EXPECT_EQ(s.w().pollIntervalField->text(), "1500");
    EXPECT_EQ(s.w().recordIntervalField->text(), "5");
    EXPECT_EQ(s.w().portBox->currentText(), "com3");
    EXPECT_EQ(s.w().baudBox->currentText(), "19200");
    EXPECT_EQ(s.w().meterCountBox->currentText(), "4");
    EXPECT_EQ(s.w().engine()->link().meterCount, "4");
    EXPECT_EQ(s.w().engine()->portNumber(), 3);
    EXPECT_TRUE(s.w().engine()->pollTimer().isActive());
    EXPECT_EQ(s.w().engine()->pollTimer().interval(), 1500);
    EXPECT_TRUE(s.w().engine()->recordTimer().isActive());
    EXPECT_EQ(s.w().engine()->recordTimer().interval(), 60000);
    EXPECT_EQ(s.w().messageLine->text(), "");
    EXPECT_TRUE(s.w().engine()->port().isOpen());
    EXPECT_EQ(pty.outputSpeed(), B19200);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(s.w().fromField->text(), today.toString("yyyy-MM-dd"));
    EXPECT_EQ(s.w().toField->text(), today.addDays(1).toString("yyyy-MM-dd"));
}

TEST(Startup, MissingDatabaseKeepsDesignTimeContentsAndStopsPolling) {
    test::ProgramFolder folder(false);
    Started s(folder);
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_EQ(s.dialogs.messages[0], "数据库文件不存在,通讯停止!\r\n" +
                                         QString::fromStdString(folder.databasePath()) +
                                         "\r\nNo such file or directory");
    EXPECT_EQ(s.w().pollIntervalField->text(), "2000");
    EXPECT_EQ(s.w().recordIntervalField->text(), "");
    EXPECT_EQ(s.w().meterCountBox->currentText(), "");
    EXPECT_EQ(s.w().baudBox->currentText(), "");
    EXPECT_EQ(s.w().portBox->currentText(), "");
    EXPECT_EQ(s.w().meterField->text(), "全部");
    EXPECT_EQ(s.w().stepField->text(), "10");
    EXPECT_EQ(s.w().fromField->text(), QDate::currentDate().toString("yyyy-MM-dd"));
    EXPECT_FALSE(s.w().engine()->pollTimer().isActive());
    EXPECT_EQ(s.w().engine()->pollTimer().interval(), 0);
    EXPECT_TRUE(s.w().engine()->recordTimer().isActive());
    EXPECT_EQ(s.w().messageLine->text(), "数据库文件不存在,通讯停止!");
    EXPECT_FALSE(s.w().engine()->port().isOpen());
}

// The port's failures name the port; a settings row that fails says so, with the file.
TEST(Startup, FailuresReportThePortAndTheLastFailure) {
    const QString port = QStringLiteral("串口已被占用,请更改串口,通讯停止!");
    const QString settings = QStringLiteral("系统设置读取失败,通讯停止!");
    const struct {
        const char* name;
        const char* row; // timer, minute, com, Settings, num
        bool linkCom12;
        const char* messageStart; // {db} stands for the database's path
        const char* combo3;
        bool portOpen;
        bool settingsFailed = false;
    } cases[] = {
        {"com 12 not there", "'2000', '1', 12, '9600', '1'", false, "Com12 is not available.\r\n",
         "", false},
        {"com 12 there", "'2000', '1', 12, '9600', '1'", true, nullptr, "", true},
        {"timer not whole", "'2000.5', '1', 12, '9600', '1'", true,
         "系统设置读取失败,通讯停止!\r\n{db}\r\nThe poll interval \"2000.5\" is not a whole number",
         "", true, true},
        {"timer NULL", "NULL, '1', 12, '9600', '1'", true,
         "系统设置读取失败,通讯停止!\r\n{db}\r\nThe settings field 'timer' is empty", "", true,
         true},
        {"com NULL", "'2000', '1', NULL, '9600', '1'", true,
         "系统设置读取失败,通讯停止!\r\n{db}\r\nThe settings field 'com' is empty", "", false,
         true},
        {"com 0", "'2000', '1', 0, '9600', '1'", true,
         "Com1 is not available.\r\nInvalid port number", "", true},
    };
    for (const auto& c : cases) {
        test::ProgramFolder folder;
        test::PtyPair pty;
        // Port 12 is the pseudo-terminal, or a device that is not there.
        folder.linkPort(12, c.linkCom12 ? pty.slaveName() : folder.path() + "/no-such-device");
        folder.linkPort(1, pty.slaveName());
        setRow(folder, c.row);
        Started s(folder);
        if (c.messageStart) {
            const QString start =
                QString::fromUtf8(c.messageStart)
                    .replace("{db}", QString::fromStdString(folder.databasePath()));
            ASSERT_EQ(s.dialogs.messages.size(), 1) << c.name;
            EXPECT_TRUE(s.dialogs.messages[0].startsWith(start))
                << c.name << ": " << s.dialogs.messages[0].toStdString();
            EXPECT_GT(s.dialogs.messages[0].size(), start.size()) << c.name;
            EXPECT_FALSE(s.w().engine()->pollTimer().isActive()) << c.name;
            EXPECT_EQ(s.w().messageLine->text(), c.settingsFailed ? settings : port) << c.name;
        } else {
            EXPECT_TRUE(s.dialogs.messages.isEmpty()) << c.name;
            EXPECT_TRUE(s.w().engine()->pollTimer().isActive()) << c.name;
        }
        EXPECT_EQ(s.w().portBox->currentText(), c.combo3) << c.name;
        EXPECT_EQ(s.w().engine()->port().isOpen(), c.portOpen) << c.name;
    }
}

TEST(Startup, NoRowInTheSettingsTable) {
    test::ProgramFolder folder;
    folder.exec("DELETE FROM mirve");
    Started s(folder);
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_EQ(s.dialogs.messages[0], "系统设置读取失败,通讯停止!\r\n" +
                                         QString::fromStdString(folder.databasePath()) +
                                         "\r\nThe settings table mirve has no row.");
}

// Each cause of a failed start-up in its own words: the file and the system's reason for a
// database that cannot be used, the missing table by name. The file is left exactly as it was,
// also by the background upgrade and the logger.
TEST(Startup, DatabaseFailuresSayWhatIsWrongAndLeaveTheFileAlone) {
    const struct {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* box; // {db} stands for the database's path
    } cases[] = {
        {"empty file", [](const std::string& p) { std::ofstream{p}; },
         "数据库缺少数据表mirve、Historydata,通讯停止!\r\n{db}"},
        {"text file", [](const std::string& p) { std::ofstream{p} << std::string(5000, 'x'); },
         "数据库无法打开,通讯停止!\r\n{db}\r\nfile is not a database"},
        {"no history table",
         [](const std::string& p) {
             createDatabase(p, "CREATE TABLE mirve (\"timer\", \"minute\", \"com\", "
                               "\"Settings\", \"num\"); INSERT INTO mirve VALUES "
                               "('2000', '1', 1, '9600', '1');");
         },
         "数据库缺少数据表Historydata,通讯停止!\r\n{db}"},
        {"no settings table",
         [](const std::string& p) {
             createDatabase(p, "CREATE TABLE Historydata (ID INTEGER PRIMARY KEY, MeterID);");
         },
         "数据库缺少数据表mirve,通讯停止!\r\n{db}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ProgramFolder folder(false);
        c.make(folder.databasePath());
        const auto bytes = [&] {
            std::ifstream in(folder.databasePath(), std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string before = bytes();
        auto upgrade = std::make_unique<BackgroundUpgrade>(folder.databasePath());
        Started s(folder);
        upgrade.reset();
        s.w().engine()->board().setRow(1, BoardRow{"1.0000"});
        s.w().engine()->board().setAnswered(1, true);
        s.w().engine()->logger().recordAll();
        ASSERT_TRUE(s.w().engine()->historyWriter().waitIdle(std::chrono::seconds(5)));
        const QString box =
            QString::fromUtf8(c.box).replace("{db}", QString::fromStdString(folder.databasePath()));
        EXPECT_EQ(s.dialogs.messages, QStringList{box});
        EXPECT_EQ(s.w().messageLine->text(), box.section("\r\n", 0, 0));
        EXPECT_FALSE(s.w().engine()->pollTimer().isActive());
        EXPECT_EQ(bytes(), before);
        EXPECT_FALSE(std::filesystem::exists(folder.databasePath() + "-wal"));
    }
}

TEST(Startup, BaudTextChoosesTheLineSpeed) {
    const struct {
        const char* baud;
        speed_t speed;
    } cases[] = {{"9600", B9600}, {"38400", B9600}, {"abc", B9600}, {"600", B600}, {"4800", B4800}};
    for (const auto& c : cases) {
        test::ProgramFolder folder;
        test::PtyPair pty;
        folder.linkPort(1, pty.slaveName());
        setRow(folder, std::string("'2000', '1', 1, '") + c.baud + "', '1'");
        Started s(folder);
        EXPECT_TRUE(s.dialogs.messages.isEmpty()) << c.baud;
        EXPECT_EQ(s.w().baudBox->currentText(), c.baud);
        EXPECT_EQ(pty.outputSpeed(), c.speed) << c.baud;
    }
}

// Stored intervals that cannot work give way to the defaults, once said on the message line;
// the stored row stays as it was.
TEST(Startup, IntervalsThatCannotWorkGiveWayToTheDefaults) {
    const struct {
        const char* timer;
        const char* minute;
        const char* pollShown;
        const char* recordShown;
        const char* line;
    } cases[] = {
        {"0", "5", "2000", "5", "发送间隔设置无效,已使用默认值2000毫秒"},
        {"-5", "1", "2000", "1", "发送间隔设置无效,已使用默认值2000毫秒"},
        {"1500", "0", "1500", "1", "记录时间设置无效,已使用默认值1分钟"},
        {"1500", "abc", "1500", "1", "记录时间设置无效,已使用默认值1分钟"},
        {"0", "-3", "2000", "1",
         "发送间隔设置无效,已使用默认值2000毫秒;记录时间设置无效,已使用默认值1分钟"},
        {"1500", "2", "1500", "2", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.timer) + " / " + c.minute);
        test::ProgramFolder folder;
        test::PtyPair pty;
        folder.linkPort(1, pty.slaveName());
        const std::string row =
            std::string("'") + c.timer + "', '" + c.minute + "', 1, '9600', '1'";
        setRow(folder, row);
        Started s(folder);
        EXPECT_TRUE(s.dialogs.messages.isEmpty());
        EXPECT_TRUE(s.w().engine()->pollTimer().isActive());
        EXPECT_EQ(s.w().engine()->pollTimer().interval(), QString(c.pollShown).toInt());
        EXPECT_EQ(s.w().pollIntervalField->text(), c.pollShown);
        EXPECT_EQ(s.w().recordIntervalField->text(), c.recordShown);
        EXPECT_EQ(s.w().messageLine->text(), QString::fromUtf8(c.line));
        Database db(folder.databasePath());
        Statement stored(db, "SELECT \"timer\", \"minute\" FROM mirve");
        ASSERT_TRUE(stored.step());
        EXPECT_EQ(stored.text(0), c.timer);
        EXPECT_EQ(stored.text(1), c.minute);
    }
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

using namespace std::chrono_literals;

// The simulator serving the folder's port 1.
std::unique_ptr<test::ChildProcess> simulatorOnPortOne(const test::ProgramFolder& folder,
                                                       std::vector<std::string> options) {
    const std::string link = folder.path() + "/ports/com1";
    std::vector<std::string> argv{MIRV_METER_SIM, "--link", link};
    argv.insert(argv.end(), options.begin(), options.end());
    auto sim = std::make_unique<test::ChildProcess>(argv);
    EXPECT_TRUE(test::waitForPath(link));
    return sim;
}

long long historyRows(const test::ProgramFolder& folder) {
    Database db(folder.databasePath());
    Statement q(db, "SELECT count(*) FROM Historydata");
    return q.step() ? q.integer(0) : -1;
}

// Start-up knows it failed before its box opens: from then on nothing is polled, also while
// the operator leaves the box open, the board stays empty and nothing is logged.
TEST(Startup, FailureStopsPollingBeforeItsBoxOpens) {
    test::ProgramFolder folder;
    setRow(folder, "'300', '1', 0, '9600', '1'"); // port number 0 is refused; port 1 opens
    const auto sim = simulatorOnPortOne(folder, {"--meters", "1"});
    test::ScriptedDialogs dialogs;
    dialogs.whileOpen = [] { QTest::qWait(1500); };
    MainWindow w(QString::fromStdString(folder.path()), dialogs);
    w.startUp();
    dialogs.whileOpen = nullptr;
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Com1 is not available.\r\nInvalid port number"));
    QTest::qWait(700);
    for (int n = 1; n <= kMeters; ++n) {
        EXPECT_FALSE(w.engine()->board().answered(n)) << n;
        EXPECT_EQ(w.engine()->board().row(n), BoardRow{}) << n;
    }
    EXPECT_FALSE(w.engine()->pollTimer().isActive());
    EXPECT_EQ(w.messageLine->text(), "串口已被占用,请更改串口,通讯停止!");
    w.engine()->logger().recordAll();
    ASSERT_TRUE(w.engine()->historyWriter().waitIdle(5s));
    EXPECT_EQ(historyRows(folder), 0);
}

// One poll at 9600 baud is 195 bytes, 203 ms of wire, and the meter's turnaround: a stored
// 200 ms polls every 244 ms, so meters answering at the line's own pace are read.
TEST(Startup, PollIntervalNeverFasterThanTheLine) {
    test::ProgramFolder folder;
    setRow(folder, "'200', '1', 1, '9600', '2'");
    const auto sim = simulatorOnPortOne(folder, {"--meters", "1-2", "--pace", "--turnaround", "5"});
    Started s(folder);
    ASSERT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join("|").toStdString();
    EXPECT_EQ(s.w().engine()->pollTimer().interval(), 244);
    std::array<int, 3> decoded{};
    const auto show = s.w().engine()->board().rowChanged;
    s.w().engine()->board().rowChanged = [&](int n) {
        show(n);
        if (n <= 2 && !s.w().engine()->board().row(n)[StatusCell].empty())
            ++decoded[n];
    };
    QTest::qWait(3000);
    EXPECT_GE(decoded[1], 2);
    EXPECT_GE(decoded[2], 2);
}

TEST(Startup, WaitsAboutASecondForADatabaseAnotherProcessHolds) {
    test::ProgramFolder folder;
    folder.exec("PRAGMA journal_mode = DELETE; DROP INDEX Historydata_Minute_CreateTime;");
    Database holder(folder.databasePath());
    ASSERT_TRUE(holder.exec("BEGIN EXCLUSIVE; SELECT count(*) FROM mirve;"));
    auto start = std::chrono::steady_clock::now();
    auto upgrade = std::make_unique<BackgroundUpgrade>(folder.databasePath());
    Started s(folder);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1800ms) << "start-up";
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].startsWith("数据库无法打开,通讯停止!\r\n"));
    EXPECT_TRUE(s.dialogs.messages[0].contains("locked")) << s.dialogs.messages[0].toStdString();
    start = std::chrono::steady_clock::now();
    upgrade.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << "the upgrade lets the end go";
}

} // namespace
} // namespace mirv
