// The report export against a real headless LibreOffice.
#include "calc_inspector.h"
#include "main_window.h"
#include "program_folder.h"
#include "pty_pair.h"
#include "qt_test_main.h"
#include "scripted_dialogs.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

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
            ::kill(static_cast<pid_t>(officePid), SIGKILL);
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
        const std::string pipe = report->pipeName().toStdString();
        QSignalSpy done(report, &ReportExport::finished);
        if (!done.wait(60000))
            return -3;
        if (officePid > 0)
            inspector = std::make_unique<test::CalcInspector>(pipe);
        return done.takeFirst().at(0).toInt();
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

} // namespace
} // namespace mirv

int main(int argc, char** argv) {
    return mirv::test::runWidgetTests(argc, argv);
}
