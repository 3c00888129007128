// history_tool_bench [FOLDER [export|upkeep]]: mirv-history on the year of history that
// history_bench builds in FOLDER/mirv.mdb (default build/bench-data). Runs the built tool and
// reports its time and peak memory for a CSV export of the whole year and an XLSX export of one
// million rows; then a backup of the year and a prune of one month out of it while a simulated
// station logs (one pass: BEGIN IMMEDIATE, 20 INSERTs, COMMIT, every 200 ms), with the longest
// pass.
#include "database.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user and system: what it costs apart from other load
    double peakMb = 0;
};

// Runs mirv-history with `args` to its end; its wall time and peak resident memory.
ToolRun runTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{MIRV_HISTORY_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> p;
        for (auto& a : argv)
            p.push_back(a.data());
        p.push_back(nullptr);
        ::execv(p[0], p.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakMb = usage.ru_maxrss / 1024.0;
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return run;
}

std::int64_t single(const std::string& path, const char* sql) {
    mirv::Database db(path);
    mirv::Statement q(db, sql);
    return q.step() ? q.integer(0) : -1;
}

// Logging passes into `path` every 200 ms while it lives; the time of each pass.
class SimulatedStation {
  public:
    explicit SimulatedStation(std::string path)
        : path_(std::move(path)), thread_([this] { run(); }) {}
    ~SimulatedStation() { stop(); }

    struct Pass {
        double at;       // seconds since the station started
        double duration; // ms
    };

    std::vector<Pass> stop() {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        return passes_;
    }

  private:
    void run() {
        mirv::Database db(path_, 30000);
        mirv::Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, "
                                   "CreateTime) VALUES (?1, '12.5000', '1000.25', "
                                   "'2026-12-31 23:59:00')");
        while (running_) {
            const auto start = Clock::now();
            db.exec("BEGIN IMMEDIATE");
            for (int n = 1; n <= 20; ++n) {
                insert.reset();
                insert.bind(1, std::to_string(n));
                insert.step();
            }
            db.exec("COMMIT");
            passes_.push_back(
                {std::chrono::duration<double>(start - started_).count(),
                 std::chrono::duration<double, std::milli>(Clock::now() - start).count()});
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    std::string path_;
    std::atomic<bool> running_{true};
    std::vector<Pass> passes_;
    Clock::time_point started_ = Clock::now();
    std::thread thread_;
};

void reportPasses(const char* what, const std::vector<SimulatedStation::Pass>& passes) {
    if (passes.empty())
        return;
    std::vector<double> ms;
    for (const auto& p : passes)
        ms.push_back(p.duration);
    std::sort(ms.begin(), ms.end());
    std::printf("  %-40s %zu passes, median %.1f ms, longest %.1f ms   (goal < 100)\n", what,
                ms.size(), ms[ms.size() / 2], ms.back());
    for (const auto& p : passes)
        if (p.duration > 100)
            std::printf("    %.1f ms at %.1f s\n", p.duration, p.at);
}

void exports(const std::string& folder, std::int64_t rows);
void upkeep(const std::string& folder);

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "build/bench-data";
    const std::string part = argc > 2 ? argv[2] : "";
    const std::string year = folder + "/mirv.mdb";
    if (!fs::exists(year)) {
        std::fprintf(stderr, "%s is missing: run history_bench first, it builds the year\n",
                     year.c_str());
        return 1;
    }
    const std::int64_t rows = single(year, "SELECT count(*) FROM Historydata WHERE CreateTime "
                                           "BETWEEN '2025-01-01' AND '2025-12-31 23:59:59'");
    std::printf("Database: %lld rows of 2025, %.0f MB\n\n", static_cast<long long>(rows),
                fs::file_size(year) / 1e6);

    if (part != "upkeep")
        exports(folder, rows);
    if (part != "export")
        upkeep(folder);
    return 0;
}

namespace {

void exports(const std::string& folder, std::int64_t rows) {
    const std::string year = folder + "/mirv.mdb";
    const std::string csv = folder + "/year.csv";
    ToolRun run = runTool({"--db", year, "export", "--from", "2025-01-01", "--to",
                           "2025-12-31 23:59:59", "--format", "csv", "--output", csv});
    std::printf("CSV export of the year: status %d, %.1f s, %.0f rows/s (goal > 500000; %.0f a "
                "CPU second), peak RSS %.1f MB (goal < 100), %.0f MB written\n",
                run.status, run.seconds, rows / run.seconds, rows / run.cpuSeconds, run.peakMb,
                fs::file_size(csv) / 1e6);
    fs::remove(csv);

    // 50,000 minutes of 20 meters.
    const std::string xlsx = folder + "/million.xlsx";
    run = runTool({"--db", year, "export", "--from", "2025-01-01", "--to", "2025-02-04 17:19",
                   "--format", "xlsx", "--output", xlsx});
    std::printf("XLSX export of 1,000,000 rows: status %d, %.1f s, %.0f rows/s (%.0f a CPU "
                "second), peak RSS %.1f MB, %.0f MB written\n",
                run.status, run.seconds, 1e6 / run.seconds, 1e6 / run.cpuSeconds, run.peakMb,
                fs::file_size(xlsx) / 1e6);
    fs::remove(xlsx);
}

void upkeep(const std::string& folder) {
    const std::string year = folder + "/mirv.mdb";
    ToolRun run;

    // The copy the backup makes is then pruned, so the year itself stays as it is.
    const std::string copy = folder + "/backup.mdb";
    {
        SimulatedStation quiet(year);
        std::this_thread::sleep_for(std::chrono::seconds(5));
        std::printf("\nLogging with nothing else running:\n");
        reportPasses("passes", quiet.stop());
    }
    {
        SimulatedStation station(year);
        run = runTool({"--db", year, "backup", copy});
        std::printf("Backup of the year while logging: status %d, %.1f s (copy and integrity "
                    "check), peak RSS %.1f MB\n",
                    run.status, run.seconds, run.peakMb);
        reportPasses("passes during the backup", station.stop());
    }
    {
        SimulatedStation station(copy);
        run = runTool({"--db", copy, "prune", "--before", "2025-02-01", "--yes"});
        std::printf("Prune of January (892,800 rows) while logging: status %d, %.1f s, peak RSS "
                    "%.1f MB\n",
                    run.status, run.seconds, run.peakMb);
        reportPasses("passes during the prune", station.stop());
    }
    fs::remove(copy);
    // The simulated passes into the year are taken out again.
    mirv::Database db(year);
    db.exec("DELETE FROM Historydata WHERE CreateTime = '2026-12-31 23:59:00'");
}

} // namespace
