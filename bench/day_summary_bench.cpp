// day_summary_bench [FOLDER]: the daily summaries on a year and on ten years of history for 20
// meters, made once in FOLDER (default build/bench-data/summaries) as databases from before the
// summaries: year/mirv.mdb has a record a minute through 2025 (10.5 million rows),
// ten-years/mirv.mdb one every ten minutes from 2016 through 2025 (10.5 million rows). Reports
// the start-up build of the summaries and their size, the energy table for 20 meters from the
// summaries beside the pass over every row (and whether both agree), one meter's trend load and
// reduction from the hourly summaries beside every row (and whether both draw the same under
// the same edges), a logging pass with and without the summaries, and the pass that sums up the
// hours the meters leave (it adds rows in 2030 to the year's database). `--trend-only` and
// `--passes-only` after FOLDER run those parts alone.
//
// day_summary_bench --passes DATABASE [--summaries]: ten logging passes and nothing else, for
// counting their syncs: strace -f -c -e trace=fsync,fdatasync day_summary_bench --passes ...
#include "bench_support.h"
#include "compose_row.h"
#include "create_database.h"
#include "database.h"
#include "day_summary_store.h"
#include "energy_use.h"
#include "history_writer.h"
#include "record_logger.h"
#include "trend_data.h"
#include "trend_reduction.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

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

// Rows for 20 meters from New Year of `firstYear` on, `minutes` apart, in the board's formats.
void generate(const std::string& path, int firstYear, int years, int minutes) {
    mirv::Database db(path);
    db.exec("PRAGMA synchronous = OFF; BEGIN");
    mirv::Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                               "Alarmstatus, TXTctemperature1, TXTctemperature2, TXTreliang, "
                               "TXTlengliang, TXTleijire_z, TXTleijileng_z, CreateTime) VALUES "
                               "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    std::tm start{};
    start.tm_year = firstYear - 1900;
    start.tm_mday = 1;
    std::tm end = start;
    end.tm_year += years;
    const std::time_t last = timegm(&end);
    int step = 0;
    for (std::time_t t = timegm(&start); t < last; t += 60 * minutes, ++step) {
        std::tm tm{};
        gmtime_r(&t, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
        const int minute = step * minutes;
        for (int n = 1; n <= 20; ++n) {
            const float flow = 10.0f + n + (step % 97) * 0.0137f;
            const mirv::BoardRow row = mirv::composeRow(
                {.flowRate = flow,
                 .forwardInt = static_cast<std::uint32_t>(1000 * n + minute / 6),
                 .forwardFrac = 0.25f,
                 .exciteAlarm = static_cast<std::uint16_t>(n == 3),
                 .inletTemp = 55.5f + n * 0.25f + (step % 89) * 0.01f,
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

constexpr const char* kDropSummaries =
    "DROP TRIGGER IF EXISTS Historyday_deleted; DROP TRIGGER IF EXISTS Historyday_updated; "
    "DROP TABLE IF EXISTS Historyday; DROP TABLE IF EXISTS HistorydayStale; "
    "DROP TABLE IF EXISTS HistorydayProgress; DROP TABLE IF EXISTS Historyhour";

// A database of the kind a station kept before the summaries, with its indexes.
bool prepare(const std::string& path, int firstYear, int years, int minutes) {
    if (fs::exists(path))
        return true;
    fs::create_directories(fs::path(path).parent_path());
    std::printf("Generating %s ...\n", path.c_str());
    std::fflush(stdout);
    if (auto e = mirv::createDatabase(path, mirv::bench::readFile(MIRV_SCHEMA))) {
        std::fprintf(stderr, "%s\n", e->c_str());
        return false;
    }
    mirv::Database(path).exec(kDropSummaries);
    const double ms = millisecondsOf([&] { generate(path, firstYear, years, minutes); });
    std::printf("  generated in %.1f s\n", ms / 1000);
    mirv::Database(path).exec(
        "CREATE INDEX IF NOT EXISTS Historydata_CreateTime ON Historydata (CreateTime);"
        "CREATE INDEX IF NOT EXISTS Historydata_MeterID_CreateTime ON Historydata (MeterID, "
        "CreateTime);");
    return true;
}

// The days' tables, or the hours' table.
double summaryMegabytes(const std::string& path, bool hours = false) {
    mirv::Database db(path);
    mirv::Statement q(db, hours ? "SELECT sum(pgsize) FROM dbstat WHERE name = 'Historyhour'"
                                : "SELECT sum(pgsize) FROM dbstat WHERE name LIKE 'Historyday%' "
                                  "OR name LIKE 'sqlite_autoindex_Historyday%'");
    return q.step() ? q.integer(0) / 1e6 : -1;
}

std::int64_t summaryRows(const std::string& path, const char* table = "Historyday") {
    mirv::Database db(path);
    mirv::Statement q(db, std::string("SELECT count(*) FROM ") + table);
    return q.step() ? q.integer(0) : -1;
}

// What start-up does for a database from before the summaries.
void buildAtStartUp(const std::string& path, const char* name, bool again) {
    {
        mirv::Database db(path);
        mirv::Statement q(db, "SELECT Through IS NULL FROM HistorydayProgress");
        const bool built = q.step() && q.integer(0) == 1;
        if (built && !again) {
            std::printf("%-48s (built before)\n", name);
            return;
        }
    }
    mirv::Database(path).exec(kDropSummaries);
    const double ms = millisecondsOf([&] {
        mirv::upgradeDatabase(path);
        mirv::buildDaySummaries(path);
    });
    std::printf("%-48s %10.1f s   (%lld day rows, %.1f MB; %lld hour rows, %.1f MB)\n", name,
                ms / 1000, static_cast<long long>(summaryRows(path)), summaryMegabytes(path),
                static_cast<long long>(summaryRows(path, "Historyhour")),
                summaryMegabytes(path, true));
}

void energy(const std::string& path, const char* name, const char* from, const char* to,
            double goalMs, int runs) {
    const mirv::HistorySelection all = mirv::selectionFrom({"全部", from, to, ""});
    mirv::EnergyUse days, rows;
    const double fromDays = median(5, [&] { days = mirv::computeEnergyUse(path, all); });
    const double fromRows = median(runs, [&] {
        rows = mirv::computeEnergyUse(path, all, {}, nullptr, mirv::EnergySource::Rows);
    });
    std::printf("%-48s %10.1f ms   (goal < %.0f; every row: %.0f ms; %zu meters; %s)\n", name,
                fromDays, goalMs, fromRows, days.meters.size(),
                days.meters == rows.meters ? "the same" : "DIFFERENT");
}

// One meter's temperatures loaded and reduced to 1000 pixels, from the hourly summaries
// (`pixels` 1000) or from every row (0), and whether both draw the same under the same edges.
double trendOnce(const std::string& path, const mirv::HistorySelection& meter, int pixels,
                 mirv::TrendLoad& load, double& reduceMs,
                 std::vector<std::vector<mirv::TrendRun>>& drawn, const mirv::TrendData* edges) {
    const auto& temperatures = mirv::trendQuantities()[2];
    return millisecondsOf([&] {
        load = mirv::loadTrend(path, meter, temperatures, {}, nullptr, pixels);
        const mirv::TrendData& d = load.data;
        const mirv::TrendData& e = edges ? *edges : d;
        drawn.clear();
        reduceMs = millisecondsOf([&] {
            for (const auto& line : d.lines)
                drawn.push_back(mirv::reduceTrend(d.timesMs, line, e.gapMs, d.timesMs.front(),
                                                  d.timesMs.back(), 1000,
                                                  edges ? std::span<const std::uint8_t>()
                                                        : std::span<const std::uint8_t>(d.joined),
                                                  e.snapMs));
        });
    });
}

void trend(const std::string& path, const char* name, const char* from, const char* to,
           double goalMs) {
    const mirv::HistorySelection meter = mirv::selectionFrom({"7", from, to, ""});
    mirv::TrendLoad hours, rows;
    double reduceMs = 0, rowsReduceMs = 0;
    std::vector<std::vector<mirv::TrendRun>> drawn, drawnFromRows;
    const double ms =
        median(5, [&] { trendOnce(path, meter, 1000, hours, reduceMs, drawn, nullptr); });
    const double rowsMs = trendOnce(path, meter, 0, rows, rowsReduceMs, drawnFromRows, &hours.data);
    std::printf("%-48s %10.1f ms   (goal < %.0f; %lld records as %zu points; the reduction %.0f "
                "ms of it; every row: %.0f ms; %s)\n",
                name, ms, goalMs, static_cast<long long>(hours.data.records),
                hours.data.timesMs.size(), reduceMs, rowsMs,
                drawn == drawnFromRows ? "the same" : "DIFFERENT");
}

mirv::ReadingsBoard answeringBoard() {
    mirv::ReadingsBoard board;
    for (int n = 1; n <= 20; ++n) {
        board.setRow(n, mirv::composeRow({.flowRate = 1.5f, .inletTemp = 60}));
        board.setAnswered(n, true);
    }
    return board;
}

void setSummaries(mirv::HistoryWriter& writer, bool on) {
    writer.beforeCommit = on ? [](mirv::Database& db) { mirv::addNewRowsToDaySummaries(db); }
                             : std::function<void(mirv::Database&)>();
}

int passesOnly(const std::string& path, bool summaries) {
    const mirv::ReadingsBoard board = answeringBoard();
    mirv::HistoryWriter writer(path);
    setSummaries(writer, summaries);
    mirv::RecordLogger logger(board, writer);
    for (int i = 0; i < 10; ++i) {
        logger.recordAll();
        writer.waitIdle(std::chrono::seconds(10));
    }
    return 0;
}

// Passes with and without the summaries take turns, so that both see the same disk and load.
void loggingPasses(const std::string& path) {
    const mirv::ReadingsBoard board = answeringBoard();
    mirv::HistoryWriter writer(path);
    mirv::RecordLogger logger(board, writer);
    std::vector<double> with, without;
    for (int i = 0; i < 41; ++i) {
        for (const bool on : {true, false}) {
            setSummaries(writer, on);
            (on ? with : without).push_back(millisecondsOf([&] {
                logger.recordAll();
                writer.waitIdle(std::chrono::seconds(10));
            }));
        }
    }
    std::sort(with.begin(), with.end());
    std::sort(without.begin(), without.end());
    std::printf("%-48s %10.2f ms   (without the summaries %.2f ms: %+.0f %%)\n",
                "logging pass of 20 rows with the summaries", with[with.size() / 2],
                without[without.size() / 2],
                100.0 * (with[with.size() / 2] / without[without.size() / 2] - 1));
}

// Passes a minute apart through three hours of 2030 (after the bench's history), 20 meters:
// the first pass of each hour sums up the hour each meter leaves; the others only fold in.
void hourClosingPasses(const std::string& path) {
    mirv::HistoryWriter writer(path);
    setSummaries(writer, true);
    std::vector<double> closing, inside;
    for (int hour = 10; hour < 13; ++hour)
        for (int minute = 0; minute < 60; ++minute) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "2030-01-01 %02d:%02d:00", hour, minute);
            std::vector<mirv::HistoryRecord> records;
            for (int n = 1; n <= 20; ++n)
                records.push_back(mirv::recordOf(
                    n, mirv::composeRow({.flowRate = 1.5f, .inletTemp = 60.0f + minute}), stamp));
            const double ms = millisecondsOf([&] {
                writer.write(records);
                writer.waitIdle(std::chrono::seconds(10));
            });
            if (hour > 10 || minute > 0)
                (minute == 0 ? closing : inside).push_back(ms);
        }
    std::sort(inside.begin(), inside.end());
    std::printf("%-48s %10.2f ms   (the passes inside an hour: %.2f ms median)\n",
                "logging pass that sums up 20 meters' hours",
                *std::max_element(closing.begin(), closing.end()), inside[inside.size() / 2]);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--passes")
        return passesOnly(args[1], args.size() > 2 && args[2] == "--summaries");
    const std::string folder = args.empty() ? "build/bench-data/summaries" : args[0];
    const std::string year = folder + "/year/mirv.mdb", tenYears = folder + "/ten-years/mirv.mdb";
    if (!prepare(year, 2025, 1, 1) || !prepare(tenYears, 2016, 10, 10))
        return 1;
    if (args.size() > 1 && args[1] == "--passes-only") {
        loggingPasses(year);
        hourClosingPasses(year);
        return 0;
    }
    if (args.size() > 1 && args[1] == "--trend-only") {
        mirv::upgradeDatabase(year);
        mirv::upgradeDatabase(tenYears);
        trend(year, "trend load, one meter, a year (1 a minute)", "2025-01-01", "2026-01-01", 200);
        trend(tenYears, "trend load, one meter, ten years (1 in 10 min)", "2016-01-01",
              "2026-01-01", 500);
        return 0;
    }
    buildAtStartUp(year, "start-up build of the summaries, a year", true);
    buildAtStartUp(tenYears, "start-up build of the summaries, ten years", true);
    std::printf("%-48s %10.1f MB\n\n", "summaries' size on disk, ten years",
                summaryMegabytes(tenYears));

    energy(year, "energy, 20 meters, a month", "2025-03-01", "2025-04-01", 100, 3);
    energy(year, "energy, 20 meters, mid-March to mid-April", "2025-03-15 12:34:56",
           "2025-04-15 08:00:00", 100, 3);
    energy(year, "energy, 20 meters, a year", "2025-01-01", "2026-01-01", 300, 1);
    energy(tenYears, "energy, 20 meters, ten years", "2016-01-01", "2026-01-01", 1000, 1);
    std::printf("\n");
    trend(year, "trend load, one meter, a year (1 a minute)", "2025-01-01", "2026-01-01", 200);
    trend(tenYears, "trend load, one meter, ten years (1 in 10 min)", "2016-01-01", "2026-01-01",
          500);
    std::printf("\n");
    loggingPasses(year);
    hourClosingPasses(year);
    return 0;
}
