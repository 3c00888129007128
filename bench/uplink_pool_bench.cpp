// uplink_pool_bench [STATIONS] [SERVER_CONNECTIONS] [BATCH_ROWS]: STATIONS (default 200)
// stations, each with a day of history (20 meters once a minute), forwarded at once by as many
// mirv-uplink --once --batch-rows BATCH_ROWS (default 20000), each under its own station role,
// through one pgbouncer in transaction pooling that opens SERVER_CONNECTIONS (default 0: one
// per station role) to the server in all: the transactions of the rest wait in the pooler. Reports
// the uplinks that failed (goal: none), the time until the last one ended, and the server's CPU
// time meanwhile.
#include "bench_support.h"
#include "child_process.h"
#include "pgbouncer.h"
#include "temp_dir.h"
#include "uplink_bench_support.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string name(int station) {
    return "st_" + std::to_string(station);
}

} // namespace

int main(int argc, char** argv) {
    const int stations = argc > 1 ? std::atoi(argv[1]) : 200;
    const int serverConnections = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string batchRows = argc > 3 ? argv[3] : "20000";
    mirv::test::TempDir dir;
    const std::string day = (dir.path() / "day.mdb").string();
    if (!mirv::bench::makeStationHistory(day, mirv::bench::readFile(MIRV_SCHEMA), 1440 * 20))
        return 1;

    mirv::test::PostgresServer pg({"max_wal_size=4GB", "max_connections=300"});
    mirv::test::PgConnection admin(pg.conninfo());
    admin.exec(mirv::bench::readFile(MIRV_CENTRAL_ROLES));
    std::vector<std::string> users;
    std::vector<fs::path> folders;
    for (int s = 0; s < stations; ++s) {
        const fs::path folder = dir.path() / std::to_string(s);
        fs::create_directories(folder);
        fs::copy_file(MIRV_UPLINK, folder / "mirv-uplink");
        fs::copy_file(day, folder / "mirv.mdb");
        if (s == 0) {
            std::ofstream(folder / "uplink.conf") << "conninfo = " << pg.conninfo() << "\n";
            mirv::test::ChildProcess m({(folder / "mirv-uplink").string(), "--migrate"});
            if (m.waitForExit(2min) != 0)
                return 1;
        }
        admin.rows("SELECT mirv_add_station($1, $2)", {name(s), name(s)});
        users.push_back(name(s));
        folders.push_back(folder);
    }
    mirv::test::Pgbouncer bouncer(pg.port(), "transaction", users, 1, serverConnections);
    for (int s = 0; s < stations; ++s)
        std::ofstream(folders[s] / "uplink.conf")
            << "station = " << name(s)
            << "\nzone = UTC\nconninfo = host=127.0.0.1 port=" << bouncer.port()
            << " user=" << name(s) << " dbname=postgres\n";

    admin.exec("CHECKPOINT");
    const double cpu = mirv::bench::serverCpuSeconds(admin);
    const auto start = Clock::now();
    std::vector<std::unique_ptr<mirv::test::ChildProcess>> uplinks;
    for (const auto& folder : folders)
        uplinks.push_back(std::make_unique<mirv::test::ChildProcess>(mirv::test::withLog(
            {(folder / "mirv-uplink").string(), "--once", "--batch-rows", batchRows},
            (folder / "uplink.err").string())));
    int failed = 0;
    std::string firstFailure;
    for (std::size_t s = 0; s < uplinks.size(); ++s) {
        const int status = uplinks[s]->waitForExit(60min);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            continue;
        if (failed++ == 0)
            firstFailure = mirv::bench::readFile((folders[s] / "uplink.err").string());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double serverCpu = mirv::bench::serverCpuSeconds(admin) - cpu;
    const std::string stored = admin.value("SELECT count(*) FROM station_history");
    std::printf("%d stations, a day each, batches of %s rows, through pgbouncer (transaction "
                "pooling, %d server connections, 0: no limit): %d failed (goal 0), %s rows in "
                "%.1f s (%.0f rows/s), server CPU %.1f s\n",
                stations, batchRows.c_str(), serverConnections, failed, stored.c_str(), seconds,
                std::stod(stored) / seconds, serverCpu);
    if (failed > 0)
        std::printf("the first that failed said:\n%s", firstFailure.c_str());
    return failed == 0 ? 0 : 1;
}
