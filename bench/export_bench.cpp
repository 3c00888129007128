// export_bench [RECORDS]: exporting history into the spreadsheet with a headless LibreOffice.
// First 10,000 records from the click to the last cell written, with the office started cold
// and with one already up; then RECORDS records (default 1,048,575, one more than a sheet
// holds) while the event loop's longest stall and the station's resident memory are watched.
#include "bench_support.h"
#include "create_database.h"
#include "database.h"
#include "dialogs.h"
#include "main_window.h"
#include "process_tree.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace {

using mirv::bench::readFile;
using mirv::bench::residentKb;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Dialogs : mirv::Dialogs {
    void message(const QString& text) override { said = text; }
    bool askYesNo(const QString&, const QString&) override { return false; }
    void endProgram() override {}
    QString said;
};

void fill(const std::string& db, int records) {
    mirv::Database d(db);
    d.exec("DELETE FROM Historydata; BEGIN");
    mirv::Statement insert(
        d, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, "
           "TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, "
           "Alarmstatus, CreateTime) VALUES (?1, '12.5000', '123456.75', '0.00', '61.25', "
           "'48.20', '3.5000', '0.0000', '2000000005.50', '0.00', '通讯正常', ?2)");
    for (int i = 0; i < records; ++i) {
        const int minute = i / 20;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2026-%02d-%02d %02d:%02d:%02d", 1 + minute / 43200,
                      1 + minute / 1440 % 30, minute / 60 % 24, minute % 60, i % 20);
        insert.reset();
        insert.bind(1, std::to_string(i % 20 + 1));
        insert.bind(2, std::string(stamp));
        insert.step();
    }
    d.exec("COMMIT");
}

// User and system time of this process so far, all threads.
double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int bigExport = argc > 1 ? std::atoi(argv[1]) : 1048575;
    char pattern[] = "/tmp/mirv-bench-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string db = folder + "/mirv.mdb";
    mirv::createDatabase(db, readFile(MIRV_SCHEMA));
    fs::copy_file(MIRV_TEMPLATE, folder + "/MirvReport.xls");
    fill(db, 10000);

    Dialogs dialogs;
    mirv::MainWindow window(QString::fromStdString(folder), dialogs);
    window.engine()->recordTimer().stop();
    window.office.extraArguments = {
        QStringLiteral("--headless"),
        QString::fromStdString("-env:UserInstallation=file://" + folder + "/profile")};
    window.meterField->setText(QStringLiteral("全部"));
    window.fromField->setText(QStringLiteral("2026-01-01"));
    window.toField->setText(QStringLiteral("2027-01-01"));
    window.stepField->setText(QStringLiteral("1"));

    std::vector<qint64> offices;
    // The longest time the event loop went without running a 10 ms timer, and the most memory.
    double longestStallMs = 0;
    long peakKb = 0;
    auto last = Clock::now();
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longestStallMs =
            std::max(longestStallMs, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        peakKb = std::max(peakKb, residentKb());
    });

    // From the click until the export is gone again: the click itself, the writing and the
    // window's handling of its end (the report is deleted later, taking its office link along).
    double clickMs = 0;
    auto exportOnce = [&](const char* what) {
        last = Clock::now();
        longestStallMs = 0;
        const auto start = Clock::now();
        window.onExportClicked();
        clickMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        QPointer<mirv::ReportExport> report = window.lastExport;
        offices.push_back(report->officePid());
        QSignalSpy done(report.data(), &mirv::ReportExport::finished);
        done.wait(30 * 60 * 1000);
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        for (int i = 0; report && i < 1000; ++i)
            QTest::qWait(10);
        std::printf("%-44s %7.2f s  (%d rows)\n", what, s,
                    done.isEmpty() ? -9 : done.first().at(0).toInt());
        std::fflush(stdout);
    };
    auto endOffices = [&] {
        for (qint64 pid : offices)
            mirv::test::endProcessTree(static_cast<pid_t>(pid));
        offices.clear();
        QTest::qWait(2000);
    };
    exportOnce("10,000 records, cold: new profile");
    exportOnce("10,000 records, office already up");
    exportOnce("10,000 records, office already up, again");
    endOffices();
    exportOnce("10,000 records, cold: profile exists");
    endOffices();

    fill(db, bigExport);
    beat.start(10);
    const long before = residentKb();
    const double cpuBefore = cpuSeconds();
    exportOnce(QStringLiteral("%1 records").arg(bigExport).toUtf8().constData());
    const double cpu = cpuSeconds() - cpuBefore;
    beat.stop();
    std::printf("  longest event-loop stall from the click to the end: %.1f ms (goal < 100); "
                "the click itself %.1f ms\n",
                longestStallMs, clickMs);
    std::printf("  station CPU: %.2f s, all its threads\n", cpu);
    std::printf("  station RSS: %.0f MB before, peak %.0f MB (goal < 300)\n", before / 1024.0,
                peakKb / 1024.0);
    std::printf("  message: %s\n", dialogs.said.toStdString().c_str());
    endOffices();
    fs::remove_all(folder);
    return 0;
}
