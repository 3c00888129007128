// uplink_pool_bench [STATIONS]: STATIONS (default 200) stations, each with a day of history
// (20 meters once a minute), forwarded at once by as many mirv-uplink --once, each under its
// own station role, through one pgbouncer in transaction pooling (a pool per role, as
// pgbouncer keeps them, of one server connection). Reports the uplinks that failed (goal:
// none), the time until the last one ended, and the server's CPU time meanwhile.
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
    mirv::test::Pgbouncer bouncer(pg.port(), "transaction", users, 1);
    for (int s = 0; s < stations; ++s)
        std::ofstream(folders[s] / "uplink.conf")
            << "station = " << name(s) << "\nzone = UTC\nconninfo = " << bouncer.conninfo(name(s))
            << "\n";

    admin.exec("CHECKPOINT");
    const double cpu = mirv::bench::serverCpuSeconds(admin);
    const auto start = Clock::now();
    std::vector<std::unique_ptr<mirv::test::ChildProcess>> uplinks;
    for (const auto& folder : folders)
        uplinks.push_back(std::make_unique<mirv::test::ChildProcess>(mirv::test::withLog(
            {(folder / "mirv-uplink").string(), "--once"}, (folder / "uplink.err").string())));
    int failed = 0;
    for (auto& u : uplinks) {
        const int status = u->waitForExit(60min);
        failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double serverCpu = mirv::bench::serverCpuSeconds(admin) - cpu;
    const std::string stored = admin.value("SELECT count(*) FROM station_history");
    std::printf("%d stations, a day each, through pgbouncer (transaction pooling, 1 server "
                "connection per station role): %d failed (goal 0), %s rows in %.1f s "
                "(%.0f rows/s), server CPU %.1f s\n",
                stations, failed, stored.c_str(), seconds, std::stod(stored) / seconds, serverCpu);
    if (failed > 0)
        for (const auto& folder : folders)
            if (fs::file_size(folder / "uplink.err") > 0) {
                std::printf("first failure, %s:\n%s", folder.c_str(),
                            mirv::bench::readFile((folder / "uplink.err").string()).c_str());
                break;
            }
    return failed == 0 ? 0 : 1;
}
