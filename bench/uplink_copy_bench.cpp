// uplink_copy_bench [DAYS]: a month (or DAYS) of one station's history, 20 meters once a minute,
// forwarded by mirv-uplink --once under a station role of data/central_roles.sql, against
// psql's \copy of the same rows as CSV into the same table of a second database as the
// superuser: the floor of what loading them can cost. Reports both times, their ratio (goal
// <= 1.2) and the server's CPU time for each.
#include "bench_support.h"
#include "child_process.h"
#include "temp_dir.h"
#include "uplink_bench_support.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// CPU seconds of the children waited for so far.
double childrenCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr const char* kColumns =
    "station, local_id, meter_id, flow_rate, forward_total, reverse_total, inlet_temperature, "
    "outlet_temperature, heat_power, cold_power, heat_total, cold_total, alarm_status, "
    "create_time, time_repeat, create_instant, source_key";

// The station's rows as CSV in the server's columns, in the UTC zone the uplink is given.
void writeCsv(const std::string& database, const std::string& csv) {
    mirv::Database db(database);
    mirv::Statement q(db, "SELECT ID, MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, "
                          "TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, "
                          "TXTleijileng_z, Alarmstatus, CreateTime FROM Historydata ORDER BY ID");
    std::ofstream out(csv);
    while (q.step()) {
        out << "bench";
        for (int c = 0; c < 13; ++c)
            out << ',' << q.text(c);
        out << ",0," << q.text(12) << "+00,\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    const long long days = argc > 1 ? std::atoll(argv[1]) : 30;
    const long long rows = days * 1440 * 20;
    mirv::test::TempDir folder;
    const fs::path uplink = folder.path() / "mirv-uplink";
    fs::copy_file(MIRV_UPLINK, uplink);
    const std::string database = (folder.path() / "mirv.mdb").string();
    std::printf("Making %lld rows (%lld days) ...\n", rows, days);
    std::fflush(stdout);
    if (!mirv::bench::makeStationHistory(database, mirv::bench::readFile(MIRV_SCHEMA), rows))
        return 1;

    mirv::test::PostgresServer pg({"max_wal_size=4GB"});
    mirv::test::PgConnection admin(pg.conninfo());
    const auto migrate = [&](const std::string& conninfo) {
        std::ofstream(folder.path() / "uplink.conf") << "conninfo = " << conninfo << "\n";
        mirv::test::ChildProcess m({uplink.string(), "--migrate"});
        return m.waitForExit(2min) == 0;
    };
    // The copy's database as a single login makes it, the uplink's as shipped.
    admin.exec("CREATE DATABASE copied");
    if (!migrate(pg.conninfo("copied")))
        return 1;
    admin.exec(mirv::bench::readFile(MIRV_CENTRAL_ROLES));
    if (!migrate(pg.conninfo()))
        return 1;
    admin.rows("SELECT mirv_add_station('bench', 'st_bench')");
    std::ofstream(folder.path() / "uplink.conf")
        << "station = bench\nzone = UTC\nconninfo = host=127.0.0.1 port=" << pg.port()
        << " user=st_bench dbname=postgres\n";

    admin.exec("CHECKPOINT");
    double cpu = mirv::bench::serverCpuSeconds(admin);
    const double before = childrenCpuSeconds();
    auto start = Clock::now();
    mirv::test::ChildProcess forward({uplink.string(), "--once"});
    const int status = forward.waitForExit(60min);
    const double ownCpu = childrenCpuSeconds() - before;
    const double uplinkSeconds = secondsSince(start);
    const double uplinkCpu = mirv::bench::serverCpuSeconds(admin) - cpu;
    const std::string stored = admin.value("SELECT count(*) FROM station_history");

    const std::string csv = (folder.path() / "rows.csv").string();
    writeCsv(database, csv);
    admin.exec("CHECKPOINT");
    cpu = mirv::bench::serverCpuSeconds(admin);
    start = Clock::now();
    mirv::test::ChildProcess copy({"psql", "-q", pg.conninfo("copied"), "-c",
                                   std::string("\\copy station_history (") + kColumns + ") FROM '" +
                                       csv + "' WITH (FORMAT csv)"});
    const int copyStatus = copy.waitForExit(60min);
    const double copySeconds = secondsSince(start);
    const double copyCpu = mirv::bench::serverCpuSeconds(admin) - cpu;
    mirv::test::PgConnection copied(pg.conninfo("copied"));
    const std::string copiedRows = copied.value("SELECT count(*) FROM station_history");

    std::printf("mirv-uplink --once:  %s rows in %6.1f s (%.0f rows/s), server CPU %6.1f s, "
                "exit %d; its own CPU %.1f s\n",
                stored.c_str(), uplinkSeconds, rows / uplinkSeconds, uplinkCpu, WEXITSTATUS(status),
                ownCpu);
    std::printf("psql \\copy of a CSV: %s rows in %6.1f s (%.0f rows/s), server CPU %6.1f s, "
                "exit %d\n",
                copiedRows.c_str(), copySeconds, rows / copySeconds, copyCpu,
                WEXITSTATUS(copyStatus));
    std::printf("ratio %.2f (goal <= 1.2)\n", uplinkSeconds / copySeconds);
    return 0;
}
