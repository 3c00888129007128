// export_bench: exporting 10,000 history records into the spreadsheet, from the click to the
// last cell written, with a headless LibreOffice started cold and with one already up.
#include "create_database.h"
#include "database.h"
#include "dialogs.h"
#include "main_window.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct NoDialogs : mirv::Dialogs {
    void message(const QString&) override {}
    bool askYesNo(const QString&, const QString&) override { return false; }
    void endProgram() override {}
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    char pattern[] = "/tmp/mirv-bench-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string db = folder + "/mirv.mdb";
    mirv::createDatabase(db, readFile(MIRV_SCHEMA));
    fs::copy_file(MIRV_TEMPLATE, folder + "/MirvReport.xls");
    {
        mirv::Database d(db);
        d.exec("BEGIN");
        for (int i = 0; i < 10000; ++i) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "2026-05-06 %02d:%02d:%02d", i / 3600 % 24,
                          i / 60 % 60, i % 60);
            d.exec(std::string("INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                               "TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, "
                               "TXTleijire_z, TXTleijileng_z, Alarmstatus, CreateTime) VALUES ('") +
                   std::to_string(i % 20 + 1) + "', '12.5000', '123456.75', '0.00', '61.25', " +
                   "'48.20', '3.5000', '0.0000', '2000000005.50', '0.00', '通讯正常', '" + stamp +
                   "')");
        }
        d.exec("COMMIT");
    }

    NoDialogs dialogs;
    mirv::MainWindow window(QString::fromStdString(folder), dialogs);
    window.recordTimer.stop();
    window.office.extraArguments = {
        QStringLiteral("--headless"),
        QString::fromStdString("-env:UserInstallation=file://" + folder + "/profile")};
    window.meterField->setText(QStringLiteral("全部"));
    window.fromField->setText(QStringLiteral("2026-05-06"));
    window.toField->setText(QStringLiteral("2026-05-07"));
    window.stepField->setText(QStringLiteral("1"));

    auto exportOnce = [&](const char* what) {
        const auto start = std::chrono::steady_clock::now();
        window.onExportClicked();
        QSignalSpy done(window.lastExport.data(), &mirv::ReportExport::finished);
        done.wait(120000);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-52s %6.2f s  (%d rows)\n", what, s,
                    done.isEmpty() ? -9 : done.first().at(0).toInt());
    };
    exportOnce("cold: first start, new profile");
    exportOnce("office already up (hands over to it)");
    exportOnce("office already up, again");
    std::system(("pkill -f 'UserInstallation=file://" + folder + "/profile'").c_str());
    std::system("sleep 2");
    exportOnce("cold: office started anew, profile exists");
    std::system(("pkill -f 'UserInstallation=file://" + folder + "/profile'").c_str());
    std::system("sleep 1");
    fs::remove_all(folder);
    return 0;
}
