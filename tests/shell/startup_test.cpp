#include "main_window.h"
#include "program_folder.h"
#include "pty_pair.h"
#include "scripted_dialogs.h"

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace mirv {
namespace {

struct Started {
    test::ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    explicit Started(const test::ProgramFolder& folder) {
        window = std::make_unique<MainWindow>(QString::fromStdString(folder.path()), dialogs);
        window->Form_Load();
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
    EXPECT_EQ(s.w().Text2->text(), "1500");
    EXPECT_EQ(s.w().Text3->text(), "5");
    EXPECT_EQ(s.w().Combo3->currentText(), "com3");
    EXPECT_EQ(s.w().Combo2->currentText(), "19200");
    EXPECT_EQ(s.w().Combo1->currentText(), "4");
    EXPECT_EQ(s.w().link.MeterCount, "4");
    EXPECT_EQ(s.w().CommPort, 3);
    EXPECT_TRUE(s.w().Timer1.isActive());
    EXPECT_EQ(s.w().Timer1.interval(), 1500);
    EXPECT_TRUE(s.w().Timer2.isActive());
    EXPECT_EQ(s.w().Timer2.interval(), 60000);
    EXPECT_EQ(s.w().Label9->text(), "");
    EXPECT_TRUE(s.w().MSComm1.isOpen());
    EXPECT_EQ(pty.outputSpeed(), B19200);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(s.w().Text10->text(), today.toString("yyyy-MM-dd"));
    EXPECT_EQ(s.w().Text11->text(), today.addDays(1).toString("yyyy-MM-dd"));
}

TEST(Startup, MissingDatabaseKeepsDesignTimeContentsAndStopsPolling) {
    test::ProgramFolder folder(false);
    Started s(folder);
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_EQ(s.dialogs.messages[0], "Com1 is not available.\r\nCould not find file '" +
                                         QString::fromStdString(folder.databasePath()) + "'.");
    EXPECT_EQ(s.w().Text2->text(), "2000");
    EXPECT_EQ(s.w().Text3->text(), "");
    EXPECT_EQ(s.w().Combo1->currentText(), "");
    EXPECT_EQ(s.w().Combo2->currentText(), "");
    EXPECT_EQ(s.w().Combo3->currentText(), "");
    EXPECT_EQ(s.w().Text8->text(), "全部");
    EXPECT_EQ(s.w().Text7->text(), "10");
    EXPECT_EQ(s.w().Text10->text(), QDate::currentDate().toString("yyyy-MM-dd"));
    EXPECT_FALSE(s.w().Timer1.isActive());
    EXPECT_EQ(s.w().Timer1.interval(), 0);
    EXPECT_TRUE(s.w().Timer2.isActive());
    EXPECT_EQ(s.w().Label9->text(), "串口已被占用,请更改串口,通讯停止!");
    EXPECT_FALSE(s.w().MSComm1.isOpen());
}

TEST(Startup, FailuresReportThePortAndTheLastFailure) {
    const struct {
        const char* name;
        const char* row; // timer, minute, com, Settings, num
        bool linkCom12;
        const char* messageStart;
        const char* combo3;
        bool portOpen;
    } cases[] = {
        {"com 12 not there", "'2000', '1', 12, '9600', '1'", false, "Com12 is not available.\r\n",
         "", false},
        {"com 12 there", "'2000', '1', 12, '9600', '1'", true, nullptr, "", true},
        {"timer not whole", "'2000.5', '1', 12, '9600', '1'", true,
         "Com12 is not available.\r\nThe poll interval \"2000.5\" is not a whole number", "", true},
        {"timer NULL", "NULL, '1', 12, '9600', '1'", true,
         "Com12 is not available.\r\nThe settings field 'timer' is empty", "", true},
        {"com NULL", "'2000', '1', NULL, '9600', '1'", true,
         "Com1 is not available.\r\nThe settings field 'com' is empty", "", false},
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
            ASSERT_EQ(s.dialogs.messages.size(), 1) << c.name;
            EXPECT_TRUE(s.dialogs.messages[0].startsWith(QString::fromUtf8(c.messageStart)))
                << c.name << ": " << s.dialogs.messages[0].toStdString();
            EXPECT_GT(s.dialogs.messages[0].size(), QString::fromUtf8(c.messageStart).size())
                << c.name;
            EXPECT_FALSE(s.w().Timer1.isActive()) << c.name;
            EXPECT_EQ(s.w().Label9->text(), "串口已被占用,请更改串口,通讯停止!") << c.name;
        } else {
            EXPECT_TRUE(s.dialogs.messages.isEmpty()) << c.name;
            EXPECT_TRUE(s.w().Timer1.isActive()) << c.name;
        }
        EXPECT_EQ(s.w().Combo3->currentText(), c.combo3) << c.name;
        EXPECT_EQ(s.w().MSComm1.isOpen(), c.portOpen) << c.name;
    }
}

TEST(Startup, NoRowInTheSettingsTable) {
    test::ProgramFolder folder;
    folder.exec("DELETE FROM mirve");
    Started s(folder);
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].startsWith(
        "Com1 is not available.\r\nThe settings table mirve has no row."));
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
        EXPECT_EQ(s.w().Combo2->currentText(), c.baud);
        EXPECT_EQ(pty.outputSpeed(), c.speed) << c.baud;
    }
}

TEST(Startup, PollIntervalOfZeroLeavesTheTimerStopped) {
    for (const char* timer : {"0", "-5"}) {
        test::ProgramFolder folder;
        test::PtyPair pty;
        folder.linkPort(1, pty.slaveName());
        setRow(folder, std::string("'") + timer + "', '1', 1, '9600', '1'");
        Started s(folder);
        EXPECT_TRUE(s.dialogs.messages.isEmpty()) << timer;
        EXPECT_FALSE(s.w().Timer1.isActive()) << timer;
    }
}

} // namespace
} // namespace mirv
