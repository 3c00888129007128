// history_bench [FOLDER] (or --passes FOLDER, see passesOnly): the history store on one year of
// minute records for 20 meters (about 10.5 million rows). Builds FOLDER/mirv.mdb once (default
// build/bench-data), then reports medians: a logging pass, the operator's queries from the click to
// rows in the grid, the grid model's memory, the same queries without indexes, the time to build
// the indexes, and the database size per million rows.
#include "bench_support.h"
#include "compose_row.h"
#include "create_database.h"
#include "database.h"
#include "dialogs.h"
#include "history_query.h"
#include "history_writer.h"
#include "main_window.h"
#include "record_logger.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/resource.h>
#include <vector>

namespace {

using mirv::bench::readFile;

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double millisecondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(int runs, const std::function<void()>& work) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i)
        t.push_back(millisecondsOf(work));
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// One row per meter per minute of 2025, values in the board's formats.
void generateYear(const std::string& path) {
    mirv::Database db(path);
    db.exec("PRAGMA synchronous = OFF; BEGIN");
    mirv::Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                               "Alarmstatus, TXTctemperature1, TXTctemperature2, TXTreliang, "
                               "TXTlengliang, TXTleijire_z, TXTleijileng_z, CreateTime) VALUES "
                               "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    std::tm day{};
    day.tm_year = 125;
    day.tm_mday = 1;
    std::time_t t = timegm(&day);
    for (int minute = 0; minute < 365 * 24 * 60; ++minute, t += 60) {
        std::tm tm{};
        gmtime_r(&t, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
        for (int n = 1; n <= 20; ++n) {
            const float flow = 10.0f + n + (minute % 97) * 0.0137f;
            const mirv::BoardRow row = mirv::composeRow(
                {.flowRate = flow,
                 .forwardInt = static_cast<std::uint32_t>(1000 * n + minute / 6),
                 .forwardFrac = 0.25f,
                 .exciteAlarm = static_cast<std::uint16_t>(n == 3),
                 .inletTemp = 55.5f + n * 0.25f,
                 .outletTemp = 47.25f,
                 .heatPower = flow * 9.3f,
                 .heatTotalLow = static_cast<std::uint32_t>(20000 * n + minute / 4)});
            insert.reset();
            insert.bind(1, std::to_string(n));
            const int cells[] = {mirv::FlowRateCell,     mirv::ForwardTotalCell,
                                 mirv::ReverseTotalCell, mirv::StatusCell,
                                 mirv::InletTempCell,    mirv::OutletTempCell,
                                 mirv::HeatPowerCell,    mirv::ColdPowerCell,
                                 mirv::HeatTotalCell,    mirv::ColdTotalCell};
            int p = 1;
            for (int c : cells)
                insert.bind(++p, row[c]);
            insert.bind(12, std::string(stamp));
            insert.step();
        }
    }
    db.exec("COMMIT");
}

long long rowCount(const std::string& path) {
    mirv::Database db(path);
    mirv::Statement q(db, "SELECT max(ID) FROM Historydata");
    return q.step() ? q.integer(0) : 0;
}

struct Query {
    const char* name;
    mirv::QueryCriteria criteria;
    double goalMs;
};

} // namespace

// Ten logging passes of 20 rows and nothing else, for counting their system calls:
// strace -f -c -e trace=openat,fsync,fdatasync history_bench --passes FOLDER
// Every meter answered with the same readings.
mirv::ReadingsBoard answeringBoard() {
    mirv::ReadingsBoard board;
    for (int n = 1; n <= 20; ++n) {
        board.setRow(n, mirv::composeRow({.flowRate = 1.5f, .inletTemp = 60}));
        board.setAnswered(n, true);
    }
    return board;
}

int passesOnly(const std::string& path) {
    const mirv::ReadingsBoard board = answeringBoard();
    mirv::HistoryWriter writer(path);
    mirv::RecordLogger logger(board, writer);
    for (int i = 0; i < 10; ++i) {
        logger.recordAll();
        writer.waitIdle(std::chrono::seconds(10));
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--passes")
        return passesOnly(std::string(argv[2]) + "/mirv.mdb");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "build/bench-data";
    const std::string path = folder + "/mirv.mdb";
    fs::create_directories(folder);
    if (!fs::exists(path)) {
        std::printf("Generating one year of history in %s ...\n", path.c_str());
        std::fflush(stdout);
        if (auto e = mirv::createDatabase(path, readFile(MIRV_SCHEMA))) {
            std::fprintf(stderr, "%s\n", e->c_str());
            return 1;
        }
        const double ms = millisecondsOf([&] { generateYear(path); });
        std::printf("  generated in %.1f s\n", ms / 1000);
    }
    // What start-up does in the background for a database made before an index existed.
    const double upgrade = millisecondsOf([&] { mirv::upgradeDatabase(path); });
    std::printf("Bringing the database up to date (indexes it lacked): %.1f s\n", upgrade / 1000);
    const long long rows = rowCount(path);
    const double mb = fs::file_size(path) / 1e6;
    std::printf("Database: %lld rows, %.0f MB, %.1f MB per million rows\n\n", rows, mb,
                mb / (rows / 1e6));

    // A logging pass: 20 meters answering, written in one transaction by the writer's thread.
    const mirv::ReadingsBoard board = answeringBoard();
    {
        mirv::HistoryWriter writer(path);
        mirv::RecordLogger logger(board, writer);
        std::printf("%-44s %10.2f ms   (goal < 5)\n", "logging pass of 20 rows, written",
                    median(9, [&] {
                        logger.recordAll();
                        writer.waitIdle(std::chrono::seconds(10));
                    }));
        std::printf("%-44s %10.3f ms\n", "logging pass, event thread's share",
                    median(9, [&] { logger.recordAll(); }));
        writer.waitIdle(std::chrono::seconds(10));
    }

    struct NoDialogs : mirv::Dialogs {
        void message(const QString&) override {}
        bool askYesNo(const QString&, const QString&) override { return false; }
        void endProgram() override {}
    } dialogs;
    mirv::MainWindow window(QString::fromStdString(folder), dialogs);
    window.engine()->recordTimer().stop();
    window.show();
    const Query queries[] = {
        {"all meters, one day, step 10", {"全部", "2025-06-15", "2025-06-16", "10"}, 50},
        {"meter 7, 31 days, step 60", {"7", "2025-03-01", "2025-04-01", "60"}, 50},
        {"all meters, one whole day, step 1",
         {"全部", "2025-06-15", "2025-06-15 23:59:59", "1"},
         300},
        {"all meters, a whole year, step 60", {"全部", "2025-01-01", "2026-01-01", "60"}, 300},
        {"all meters, 31 days, step 1", {"全部", "2025-03-01", "2025-04-01", "1"}, 1000},
    };
    auto click = [&](const Query& q) {
        window.meterField->setText(QString::fromStdString(q.criteria.meter));
        window.fromField->setText(QString::fromStdString(q.criteria.from));
        window.toField->setText(QString::fromStdString(q.criteria.to));
        window.stepField->setText(QString::fromStdString(q.criteria.step));
        window.onQueryClicked();
        QCoreApplication::processEvents();
    };
    std::vector<double> indexed;
    for (const Query& q : queries) {
        const double ms = median(7, [&] { click(q); });
        indexed.push_back(ms);
        std::printf("%-44s %10.2f ms   (goal < %.0f; %d rows in the grid)\n", q.name, ms, q.goalMs,
                    window.historyGrid->model()->rowCount());
    }
    click(queries[2]);
    std::printf("%-44s %10.2f MB   (goal < 30)\n", "grid model memory, one day at step 1",
                window.historyModel.memoryBytes() / 1e6);
    click(queries[4]);
    std::printf("%-44s %10.2f MB   (goal < 100)\n", "grid model memory, 31 days at step 1",
                window.historyModel.memoryBytes() / 1e6);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-44s %10.2f MB\n\n", "peak RSS of the benchmark so far", usage.ru_maxrss / 1e3);

    {
        mirv::Database db(path);
        db.exec("DROP INDEX IF EXISTS Historydata_CreateTime;"
                "DROP INDEX IF EXISTS Historydata_MeterID_CreateTime;"
                "DROP INDEX IF EXISTS Historydata_Minute_CreateTime;");
    }
    for (std::size_t i = 0; i < std::size(queries); ++i) {
        const double ms = median(3, [&] { click(queries[i]); });
        std::printf("%-44s %10.2f ms   (%.0fx slower without indexes)\n", queries[i].name, ms,
                    ms / indexed[i]);
    }
    const double build = millisecondsOf([&] { mirv::upgradeDatabase(path); });
    std::printf("\nBuilding the three indexes at start-up: %.1f s\n", build / 1000);
    {
        mirv::Database db(path);
        db.exec("DROP INDEX IF EXISTS Historydata_Minute_CreateTime;");
    }
    const double minuteIndex = millisecondsOf([&] { mirv::upgradeDatabase(path); });
    std::printf("Building the minute index alone on an older database: %.1f s\n",
                minuteIndex / 1000);
    return 0;
}
