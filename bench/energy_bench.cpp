// energy_bench [FOLDER]: energy use and trends on the year of history that history_bench builds
// in FOLDER/mirv.mdb (default build/bench-data). Reports medians: energy use for 20 meters over a
// month and over a year, one meter's trend of both temperatures from the click to the drawn
// chart over a day, a month and a year, a zoom's re-reduction, and the peak memory of a
// process that draws the year's trend.
//
// energy_bench --screenshot OUT.png [FOLDER]: the station's window on the energy tab with a
// month's table and a trend, grabbed into OUT.png (run it under Xvfb to see the real platform).
#include "dialogs.h"
#include "energy_tab.h"
#include "energy_use.h"
#include "main_window.h"
#include "trend_chart.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct NoDialogs : mirv::Dialogs {
    void message(const QString&) override {}
    bool askYesNo(const QString&, const QString&) override { return false; }
    void endProgram() override {}
};

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The median run's wall-clock time, and the processor time (all threads) of that run: on a
// busy machine the first grows with the load, the second hardly.
struct Timing {
    double wallMs, cpuMs;
};

Timing median(int runs, const std::function<void()>& work) {
    std::vector<Timing> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const double cpu = cpuMs();
        work();
        t.push_back({std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                     cpuMs() - cpu});
    }
    std::sort(t.begin(), t.end(), [](auto& a, auto& b) { return a.wallMs < b.wallMs; });
    return t[t.size() / 2];
}

void report(const char* name, const Timing& t, const std::string& note = {}) {
    std::printf("%-44s %7.0f ms wall %7.0f ms cpu   %s\n", name, t.wallMs, t.cpuMs, note.c_str());
}

// Resident and peak resident memory of this process in MB, from /proc.
std::pair<double, double> memoryMb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    double rss = 0, peak = 0;
    while (status >> key) {
        if (key == "VmRSS:")
            status >> rss;
        else if (key == "VmHWM:")
            status >> peak;
    }
    return {rss / 1024, peak / 1024};
}

void setCriteria(mirv::EnergyTab& tab, const char* meter, const char* from, const char* to) {
    tab.meterField->setText(QString::fromUtf8(meter));
    tab.fromField->setText(from);
    tab.toField->setText(to);
}

// Clicks and waits until the worker's result is shown; then paints the tab as the screen would.
void clickAndDraw(mirv::EnergyTab& tab, QPushButton* button) {
    QSignalSpy finished(&tab, &mirv::EnergyTab::jobFinished);
    button->click();
    if (!finished.wait(120000))
        std::fprintf(stderr, "no result within two minutes\n");
    tab.grab();
}

// In a process of its own, so the figure is this work's alone.
void reportTrendMemory(const QString& databasePath, int argc, char** argv) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        QApplication app(argc, argv);
        NoDialogs dialogs;
        mirv::EnergyTab tab(databasePath, {{databasePath.toStdString()}, {}}, dialogs);
        tab.resize(1100, 420);
        tab.show();
        QCoreApplication::processEvents();
        const double before = memoryMb().first;
        setCriteria(tab, "7", "2025-01-01", "2026-01-01");
        tab.quantityBox->setCurrentIndex(2);
        clickAndDraw(tab, tab.trendButton);
        const auto [rss, peak] = memoryMb();
        std::printf("%-44s %7.1f MB peak RSS (%.1f MB before the click, %.1f MB after)\n",
                    "one meter's year of trend drawn", peak, before, rss);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

int benchmark(const std::string& folder, int argc, char** argv) {
    const std::string path = folder + "/mirv.mdb";
    if (!std::filesystem::exists(path)) {
        std::fprintf(stderr, "%s is missing: build it with history_bench %s\n", path.c_str(),
                     folder.c_str());
        return 1;
    }
    const QString databasePath = QString::fromStdString(path);
    reportTrendMemory(databasePath, argc, argv);

    QApplication app(argc, argv);
    const struct {
        const char* name;
        const char* from;
        const char* to;
        double goalMs;
    } energy[] = {
        {"energy use, 20 meters, a month", "2025-03-01", "2025-04-01", 1000},
        {"energy use, 20 meters, a year", "2025-01-01", "2026-01-01", 10000},
    };
    for (const auto& e : energy) {
        std::size_t meters = 0;
        const Timing t = median(3, [&] {
            meters = mirv::computeEnergyUse(path, mirv::selectionFrom({"全部", e.from, e.to, ""}))
                         .meters.size();
        });
        report(e.name, t,
               "(goal < " + std::to_string(int(e.goalMs)) + "; " + std::to_string(meters) +
                   " meters)");
    }

    NoDialogs dialogs;
    mirv::EnergyTab tab(databasePath, {{databasePath.toStdString()}, {}}, dialogs);
    tab.resize(1100, 420);
    tab.show();
    setCriteria(tab, "全部", "2025-03-01", "2025-04-01");
    report("energy use, a month, click to table",
           median(3, [&] { clickAndDraw(tab, tab.computeButton); }));

    tab.quantityBox->setCurrentIndex(2); // 入口温度 and 出口温度: two lines
    const struct {
        const char* name;
        const char* from;
        const char* to;
    } trends[] = {
        {"trend, one meter, a day, click to chart", "2025-06-15", "2025-06-16"},
        {"trend, one meter, a month, click to chart", "2025-03-01", "2025-04-01"},
        {"trend, one meter, a year, click to chart", "2025-01-01", "2026-01-01"},
    };
    for (const auto& t : trends) {
        setCriteria(tab, "7", t.from, t.to);
        report(t.name, median(3, [&] { clickAndDraw(tab, tab.trendButton); }),
               "(goal < 1000 for the year)");
    }
    const QRectF area = tab.chart->chart()->plotArea();
    const Timing zoom = median(5, [&] {
        tab.chart->chart()->zoomIn(
            QRectF(area.left() + area.width() / 4, area.top(), area.width() / 2, area.height()));
        tab.grab();
        tab.chart->resetZoom();
        tab.grab();
    });
    report("year's trend: zoom in and reset, redrawn", zoom);
    return 0;
}

int screenshot(const QString& out, const std::string& folder, int argc, char** argv) {
    QApplication app(argc, argv);
    NoDialogs dialogs;
    mirv::MainWindow window(QString::fromStdString(folder), dialogs);
    window.engine()->recordTimer().stop();
    window.show();
    window.tabs->setCurrentIndex(4);
    mirv::EnergyTab& tab = window.energyTab();
    setCriteria(tab, "全部", "2025-03-01", "2025-04-01");
    clickAndDraw(tab, tab.computeButton);
    tab.energyTable->selectRow(6);
    tab.quantityBox->setCurrentIndex(2);
    clickAndDraw(tab, tab.trendButton);
    // Hover over a record in the middle of the month, as the operator would.
    const QRectF area = tab.chart->chart()->plotArea();
    QTest::mouseMove(tab.chart->viewport(),
                     tab.chart->mapFromScene(tab.chart->chart()->mapToScene(
                         QPointF(area.left() + area.width() * 0.52, area.center().y()))));
    QTest::qWait(500);
    const bool saved = window.grab().save(out);
    QTest::qWait(3000); // time for a screenshot of the whole screen
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--screenshot" && args.size() >= 2)
        return screenshot(QString::fromStdString(args[1]),
                          args.size() > 2 ? args[2] : "build/bench-data", argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return benchmark(args.empty() ? "build/bench-data" : args[0], argc, argv);
}
