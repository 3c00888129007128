// The report export against a real headless LibreOffice.
#include "calc_inspector.h"
#include "main_window.h"
#include "process_tree.h"
#include "program_folder.h"
#include "pty_pair.h"
#include "qt_test_main.h"
#include "scripted_dialogs.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <QTimer>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace mirv {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool processAlive(qint64 pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

class Export : public testing::Test {
  protected:
    static void SetUpTestSuite() { profile_ = new test::TempDir; }
    static void TearDownTestSuite() { delete profile_; }

    void SetUp() override {
        folder.linkPort(1, line.slaveName());
        fs::copy_file(MIRV_TEMPLATE, templatePath());
        templateBytes_ = bytesOf(templatePath());
        folder.exec(R"(INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse,
            TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z,
            TXTleijileng_z, Alarmstatus, CreateTime) VALUES
            ('1', '12.5000', '123456.75', '0.00', '61.25', '', '-3.5000', '0.0000',
             '2000000005.50', '0.00', '通讯正常,空管报警', '2026-05-06 10:20:00'),
            ('2', '=1+1', '2024-01-02', '1234567890123456', '3.00', '4.00', '5.0000', '6.0000',
             '7.00', '8.00', '通讯正常', '2026-05-06 10:25:00'),
            ('1', '2.0000', '1.00', '2.00', '3.00', '4.00', '5.0000', '6.0000', '7.00', '8.00',
             '通讯正常', '2026-05-06 10:30:00'))");
        window = std::make_unique<MainWindow>(QString::fromStdString(folder.path()), dialogs);
        window->startUp();
        ASSERT_TRUE(dialogs.messages.isEmpty());
        // Every office these tests start uses a profile of their own; its name on the command
        // line also lets the test script find an office a crashed test left behind.
        window->office.extraArguments = {
            QStringLiteral("--headless"),
            QString::fromStdString("-env:UserInstallation=file://" + profile_->str())};
    }

    void TearDown() override {
        if (inspector)
            inspector->terminate();
        for (int i = 0; i < 100 && processAlive(officePid); ++i)
            QTest::qWait(100);
        if (processAlive(officePid))
            test::endProcessTree(static_cast<pid_t>(officePid));
        EXPECT_EQ(bytesOf(templatePath()), templateBytes_) << "the template file changed";
        EXPECT_FALSE(fs::exists(fs::path(folder.path()) / ".~lock.MirvReport.xls#"));
    }

    fs::path templatePath() const { return fs::path(folder.path()) / "MirvReport.xls"; }

    // Clicks 导出EXCEL with the criteria and waits for the export to end; its rows written.
    int exportWith(const QString& meter, const QString& from, const QString& to,
                   const QString& step) {
        window->meterField->setText(meter);
        window->fromField->setText(from);
        window->toField->setText(to);
        window->stepField->setText(step);
        QTest::mouseClick(window->exportButton, Qt::LeftButton);
        ReportExport* report = window->lastExport;
        if (!report)
            return -2;
        officePid = report->officePid();
        test::noteStartedProcess(officePid);
        const std::string pipe = report->pipeName().toStdString();
        QSignalSpy done(report, &ReportExport::finished);
        if (!done.wait(60000))
            return -3;
        if (officePid > 0)
            inspector = std::make_unique<test::CalcInspector>(pipe);
        const auto outcome = done.takeFirst();
        moreThanFit = outcome.at(1).toBool();
        return outcome.at(0).toInt();
    }

    std::vector<test::OpenSpreadsheet> sheets(int rows) {
        return inspector ? inspector->spreadsheets(rows, 12) : std::vector<test::OpenSpreadsheet>{};
    }

    static void expectTemplateHeadings(const test::OpenSpreadsheet& s) {
        EXPECT_EQ(s.cells[0][0].shown, "电磁冷热量采集数据报表");
        EXPECT_EQ(s.cells[1][0].shown, "仪表编号");
        EXPECT_EQ(s.cells[1][11].shown, "日期时间");
    }

    test::ProgramFolder folder;
    test::PtyPair line;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<test::CalcInspector> inspector;
    qint64 officePid = -1;
    bool moreThanFit = false;

  private:
    static inline test::TempDir* profile_ = nullptr;
    std::string templateBytes_;
};

TEST_F(Export, RecordsFillRowsFromThreeWithTypedCells) {
    ASSERT_EQ(exportWith("全部", "2026-05-06", "2026-05-07", "1"), 3);
    const auto docs = sheets(7);
    ASSERT_EQ(docs.size(), 1u);
    const auto& s = docs[0];
    EXPECT_EQ(s.url, "") << "an untitled document";
    expectTemplateHeadings(s);
    using K = test::SheetCell;
    const auto& first = s.cells[2];
    const K::Kind kinds[12] = {K::Value, K::Value, K::Value, K::Value, K::Value, K::Empty,
                               K::Value, K::Value, K::Value, K::Value, K::Text,  K::Value};
    for (int c = 0; c < 12; ++c)
        EXPECT_EQ(first[c].kind, kinds[c]) << "column " << char('A' + c);
    EXPECT_EQ(first[0].kind, K::Value);
    EXPECT_EQ(first[0].value, 1);
    EXPECT_EQ(first[1].kind, K::Value);
    EXPECT_EQ(first[1].value, 12.5);
    EXPECT_EQ(first[2].value, 123456.75);
    EXPECT_EQ(first[5].kind, K::Empty); // outlet temperature stored empty
    EXPECT_EQ(first[6].value, -3.5);
    EXPECT_EQ(first[8].value, 2000000005.5);
    EXPECT_EQ(first[10].kind, K::Text);
    EXPECT_EQ(first[10].shown, "通讯正常,空管报警");
    EXPECT_EQ(first[11].kind, K::Value);
    EXPECT_EQ(first[11].shown, "2026-05-06 10:20:00");
    // Texts are stored as they are: no formula, no date, no rounding of long numbers.
    const auto& second = s.cells[3];
    EXPECT_EQ(second[0].value, 2);
    EXPECT_EQ(second[1].kind, K::Text);
    EXPECT_EQ(second[1].shown, "=1+1");
    EXPECT_EQ(second[2].kind, K::Text);
    EXPECT_EQ(second[2].shown, "2024-01-02");
    EXPECT_EQ(second[3].kind, K::Text);
    EXPECT_EQ(second[3].shown, "1234567890123456");
    EXPECT_EQ(s.cells[4][11].shown, "2026-05-06 10:30:00");
    for (const auto& cell : s.cells[5])
        EXPECT_EQ(cell.kind, K::Empty);
}

TEST_F(Export, OneRecordFillsRowThreeOnlyAndTheCriteriaAreThoseOfTheClick) {
    window->meterField->setText("1");
    QTest::mouseClick(window->queryButton, Qt::LeftButton); // the grid shows meter 1
    ASSERT_EQ(exportWith("2", "2026-05-06", "2026-05-07", "1"), 1);
    const auto docs = sheets(5);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].cells[2][0].value, 2);
    EXPECT_EQ(docs[0].cells[2][11].shown, "2026-05-06 10:25:00");
    for (const auto& cell : docs[0].cells[3])
        EXPECT_EQ(cell.kind, test::SheetCell::Empty);
}

TEST_F(Export, EmptySelectionShowsTheTemplateUnchanged) {
    ASSERT_EQ(exportWith("9", "2026-05-06", "2026-05-07", "1"), 0);
    const auto docs = sheets(4);
    ASSERT_EQ(docs.size(), 1u);
    expectTemplateHeadings(docs[0]);
    for (const auto& cell : docs[0].cells[2])
        EXPECT_EQ(cell.kind, test::SheetCell::Empty);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(Export, NoOfficeOrNoTemplateWritesNothingAndSaysNothing) {
    window->office.program = QStringLiteral("no-such-office-program");
    EXPECT_EQ(exportWith("全部", "2026-05-06", "2026-05-07", "1"), -1);
    EXPECT_TRUE(dialogs.messages.isEmpty());

    window->office.program = QStringLiteral("soffice");
    const std::string saved = bytesOf(templatePath());
    fs::remove(templatePath());
    EXPECT_EQ(exportWith("全部", "2026-05-06", "2026-05-07", "1"), -1);
    EXPECT_TRUE(sheets(3).empty());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    std::ofstream(templatePath(), std::ios::binary) << saved;
}

// The template shows numbers the way the board does, in columns as wide relative to each other
// as the grid's, wide enough for a large heat total, a two-alarm status and a time stamp.
TEST_F(Export, TemplateColumnsShowTheBoardsFormatsInTheGridsWidths) {
    folder.exec("UPDATE Historydata SET Alarmstatus = '通讯正常,励磁报警,上限报警' WHERE ID = 1");
    ASSERT_EQ(exportWith("全部", "2026-05-06", "2026-05-07", "1"), 3);
    const auto docs = sheets(5);
    ASSERT_EQ(docs.size(), 1u);
    const auto& first = docs[0].cells[2];
    EXPECT_EQ(first[1].shown, "12.5000");
    EXPECT_EQ(first[2].shown, "123456.75");
    EXPECT_EQ(first[4].shown, "61.25");
    EXPECT_EQ(first[6].shown, "-3.5000");
    EXPECT_EQ(first[7].shown, "0.0000");
    EXPECT_EQ(first[8].shown, "2000000005.50");
    EXPECT_EQ(docs[0].cells[4][2].shown, "1.00");
    EXPECT_EQ(docs[0].cells[4][5].shown, "4.00");

    const int grid[12] = {1000, 1200, 1400, 1300, 1000, 1000, 1000, 1000, 1300, 1300, 2000, 2000};
    const std::vector<int> widths = inspector->columnWidths(12, false);
    ASSERT_EQ(widths.size(), 12u);
    for (int a = 0; a < 12; ++a)
        for (int b = 0; b < 12; ++b) {
            if (grid[a] < grid[b])
                EXPECT_LT(widths[a], widths[b]) << char('A' + a) << " " << char('A' + b);
            if (grid[a] == grid[b])
                EXPECT_NEAR(widths[a], widths[b], 10) << char('A' + a) << " " << char('A' + b);
        }
    const std::vector<int> needed = inspector->columnWidths(12, true);
    for (int c : {2, 8, 10, 11})
        EXPECT_GE(widths[c], needed[c]) << "column " << char('A' + c) << " cuts its text";
}

// More records than the sheet has rows: the ones that fit are written, a block at a time, and
// the operator is told how many.
TEST_F(Export, MoreRecordsThanTheSheetHoldsWritesWhatFitsAndSaysSo) {
    window->office.maxRecords = 2;
    window->office.rowsPerBlock = 1;
    ASSERT_EQ(exportWith("全部", "2026-05-06", "2026-05-07", "1"), 2);
    EXPECT_TRUE(moreThanFit);
    EXPECT_EQ(dialogs.messages, QStringList{"记录数超过表格最大行数,只导出了前2条记录!"});
    const auto docs = sheets(5);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].cells[2][11].shown, "2026-05-06 10:20:00");
    EXPECT_EQ(docs[0].cells[3][11].shown, "2026-05-06 10:25:00");
    for (const auto& cell : docs[0].cells[4])
        EXPECT_EQ(cell.kind, test::SheetCell::Empty);
}

// An office whose pipe takes the connection and never answers: the export gives up within its
// bound while the window goes on.
TEST_F(Export, AnOfficeThatNeverAnswersIsGivenUpWhileTheWindowGoesOn) {
    window->office.program = QStringLiteral("true"); // starts and leaves the pipe to us
    window->office.connectFor = std::chrono::milliseconds(3000);
    window->office.attemptFor = std::chrono::milliseconds(1000);
    QTest::mouseClick(window->exportButton, Qt::LeftButton);
    ReportExport* report = window->lastExport;
    ASSERT_TRUE(report);
    const std::string path =
        "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + report->pipeName().toStdString();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0); // accepted by the kernel, never answered
    int ticks = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { ++ticks; });
    beat.start(20);
    QSignalSpy done(report, &ReportExport::finished);
    const bool ended = done.wait(15000);
    ::close(listener);
    ::unlink(path.c_str());
    ASSERT_TRUE(ended) << "still waiting for the office";
    EXPECT_EQ(done.first().at(0).toInt(), -1);
    EXPECT_GT(ticks, 50) << "the event loop stood still";
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

} // namespace
} // namespace mirv

int main(int argc, char** argv) {
    return mirv::test::runWidgetTests(argc, argv);
}
