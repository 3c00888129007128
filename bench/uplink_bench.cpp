// uplink_bench [--server-in-memory] [--superuser] [YEAR.mdb]: mirv-uplink against a PostgreSQL
// server of its own. Copies the year of history (default build/bench-data/mirv.mdb, made by
// history_bench) into a program folder and reports: the whole backlog forwarded (rows a second,
// total time), the delay from a logging pass's commit to its rows on the server in steady state,
// and the logging passes of a station writing beside the uplink (BEGIN IMMEDIATE, 20 INSERTs,
// COMMIT once a second on a connection of its own), without the uplink, during the backlog and in
// steady state. A control writes the same passes half a second later into a database of its
// own on the same disk: what slows it too comes from the machine, not from the uplink.
// --server-in-memory keeps the server's cluster in /dev/shm, so that its writes do not share
// the station's disk, as with a server on another machine. The uplink forwards under a station
// role of data/central_roles.sql, as shipped; --superuser forwards as the server's superuser
// (no row-level security), for comparison.
#include "bench_support.h"
#include "child_process.h"
#include "create_database.h"
#include "database.h"
#include "postgres_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using mirv::bench::readFile;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The station's logging pass, once a second, each timed from BEGIN IMMEDIATE to COMMIT.
class StationPasses {
  public:
    StationPasses(std::string databasePath, std::chrono::milliseconds offset)
        : path_(std::move(databasePath)), offset_(offset) {}
    ~StationPasses() { stop(); }

    void start() {
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }
    // Writes one pass now; its CreateTime.
    std::string pass() {
        const std::string stamp = nextStamp();
        mirv::Database db(path_);
        const auto begin = Clock::now();
        db.exec("BEGIN IMMEDIATE");
        mirv::Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, "
                                   "Reverse, Alarmstatus, TXTctemperature1, TXTctemperature2, "
                                   "TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, "
                                   "CreateTime) VALUES (?1, '12.3456', '1234.25', '0.00', "
                                   "'通讯正常', '55.50', '47.25', '114.8141', '0.0000', "
                                   "'20240.25', '0.00', ?2)");
        for (int meter = 1; meter <= 20; ++meter) {
            insert.reset();
            insert.bind(1, std::to_string(meter));
            insert.bind(2, stamp);
            insert.step();
        }
        const bool ok = db.exec("COMMIT");
        std::lock_guard lock(mutex_);
        times_.push_back(ok ? msSince(begin) : 1e9);
        return stamp;
    }
    // The pass times since the last call, sorted.
    std::vector<double> takeTimes() {
        std::lock_guard lock(mutex_);
        std::vector<double> t;
        t.swap(times_);
        std::sort(t.begin(), t.end());
        return t;
    }

  private:
    void run() {
        std::this_thread::sleep_for(offset_);
        while (running_) {
            const auto next = Clock::now() + 1s;
            pass();
            while (running_ && Clock::now() < next)
                std::this_thread::sleep_for(10ms);
        }
    }
    std::string nextStamp() {
        const int n = count_++;
        char text[32];
        std::snprintf(text, sizeof text, "2026-06-%02d %02d:%02d:00", 1 + n / 1440, n / 60 % 24,
                      n % 60);
        return text;
    }

    std::string path_;
    std::chrono::milliseconds offset_;
    std::atomic<bool> running_{false};
    std::atomic<int> count_{0};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<double> times_;
};

void printPasses(const char* who, const std::vector<double>& t) {
    if (t.empty())
        return;
    std::printf("    %-8s n=%-4zu median %7.2f ms   p99 %7.2f ms   max %7.2f ms\n", who, t.size(),
                t[t.size() / 2], t[t.size() * 99 / 100], t.back());
}

// The station's and the control's passes since the last call.
void printPasses(const char* when, StationPasses& station, StationPasses& control) {
    std::printf("  logging passes %s (goal: the station's max < 50 ms)\n", when);
    printPasses("station", station.takeTimes());
    printPasses("control", control.takeTimes());
}

long long centralRows(mirv::test::PgConnection& c) {
    return std::stoll(c.value("SELECT count(*) FROM station_history"));
}

} // namespace

int main(int argc, char** argv) {
    fs::path year = "build/bench-data/mirv.mdb";
    bool serverInMemory = false;
    bool superuser = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--server-in-memory")
            serverInMemory = true;
        else if (std::string(argv[i]) == "--superuser")
            superuser = true;
        else
            year = argv[i];
    }
    if (!fs::exists(year)) {
        std::fprintf(stderr, "no %s: run history_bench first\n", year.c_str());
        return 1;
    }
    const fs::path folder = year.parent_path() / "uplink-bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::printf("Copying %s ...\n", year.c_str());
    std::fflush(stdout);
    fs::copy_file(year, folder / "mirv.mdb");
    fs::copy_file(MIRV_UPLINK, folder / "mirv-uplink");
    const std::string database = (folder / "mirv.mdb").string();
    long long localRows = 0;
    {
        mirv::Database db(database);
        mirv::Statement q(db, "SELECT count(*) FROM Historydata");
        localRows = q.step() ? q.integer(0) : 0;
    }

    // A server as shipped, but for a larger WAL between checkpoints, as a server taking bulk
    // loads would have.
    if (serverInMemory)
        ::setenv("TMPDIR", "/dev/shm", 1);
    mirv::test::PostgresServer pg({"max_wal_size=4GB"});
    ::unsetenv("TMPDIR");
    std::printf("Server cluster %s, the uplink as %s\n",
                serverInMemory ? "in /dev/shm" : "on the station's disk",
                superuser ? "the superuser" : "a station role");
    mirv::test::PgConnection central(pg.conninfo());
    std::string conninfo = pg.conninfo();
    if (!superuser) {
        central.exec(readFile(MIRV_CENTRAL_ROLES));
        std::ofstream(folder / "uplink.conf") << "conninfo = " << pg.conninfo() << "\n";
        mirv::test::ChildProcess migrate({(folder / "mirv-uplink").string(), "--migrate"});
        if (migrate.waitForExit(2min) != 0)
            return 1;
        central.rows("SELECT mirv_add_station('bench', 'st_bench')");
        conninfo =
            "host=127.0.0.1 port=" + std::to_string(pg.port()) + " user=st_bench dbname=postgres";
    }
    std::ofstream(folder / "uplink.conf") << "station = bench\nconninfo = " << conninfo << "\n";
    StationPasses station(database, 0ms);
    const std::string controlPath = (folder / "control.mdb").string();
    if (auto e = mirv::createDatabase(controlPath, readFile(MIRV_SCHEMA))) {
        std::fprintf(stderr, "%s\n", e->c_str());
        return 1;
    }
    StationPasses control(controlPath, 500ms);

    std::printf("Without the uplink, 30 s:\n");
    station.start();
    control.start();
    std::this_thread::sleep_for(30s);
    station.stop();
    control.stop();
    printPasses("without the uplink", station, control);

    std::printf("Backlog: %lld rows\n", localRows);
    station.start();
    control.start();
    const auto start = Clock::now();
    mirv::test::ChildProcess backlog({(folder / "mirv-uplink").string(), "--once"});
    const int status = backlog.waitForExit(30min);
    const double seconds = msSince(start) / 1000;
    station.stop();
    control.stop();
    const long long forwarded = centralRows(central);
    std::printf("  forwarded %lld rows in %.1f s: %.0f rows/s   (exit %d; goal < 180 s)\n",
                forwarded, seconds, forwarded / seconds, WEXITSTATUS(status));
    printPasses("during the backlog", station, control);

    std::printf("Steady state, the uplink looking every 2 s:\n");
    mirv::test::ChildProcess steady({(folder / "mirv-uplink").string()});
    std::this_thread::sleep_for(3s);
    station.takeTimes();
    control.start();
    std::vector<double> delays;
    for (int i = 0; i < 20; ++i) {
        const std::string stamp = station.pass();
        const auto committed = Clock::now();
        while (central.value("SELECT count(*) FROM station_history WHERE station = 'bench' "
                             "AND meter_id = ANY('{1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,"
                             "19,20}') AND create_time = $1",
                             {stamp}) != "20" &&
               msSince(committed) < 60000)
            std::this_thread::sleep_for(5ms);
        delays.push_back(msSince(committed));
        std::this_thread::sleep_for(std::chrono::milliseconds(700 + 97 * i % 800));
    }
    std::sort(delays.begin(), delays.end());
    std::printf("  pass to server: median %.0f ms, max %.0f ms   (goal < 10000)\n",
                delays[delays.size() / 2], delays.back());
    control.stop();
    printPasses("in steady state", station, control);
    steady.stop();
    return 0;
}
