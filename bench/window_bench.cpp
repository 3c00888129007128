// window_bench [SECONDS]: the attached window's own CPU time per second with its board shown,
// on the offscreen platform, attached to a running service that polls 20 simulated meters on a
// pseudo-terminal as fast as the line allows at 19200 baud (a poll every 142 ms). The service's
// CPU in the same seconds is given beside it, so the window's cost is seen against the work.
#include "bench_support.h"
#include "create_database.h"
#include "database.h"
#include "poll_pace.h"
#include "process_support.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace mirv::bench;

constexpr int kMeters = 20;
constexpr int kStoredIntervalMs = 20;

bool waitFor(const fs::path& path, pid_t owner) {
    for (int i = 0; i < 2000 && !fs::exists(path); ++i) {
        if (::waitpid(owner, nullptr, WNOHANG) == owner)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return fs::exists(path);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string baud = "19200";
    const int intervalMs = mirv::pollIntervalFor(kStoredIntervalMs, baud + ",n,8,1");
    char dirTemplate[] = "/tmp/mirv-window-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    fs::create_directories(dir / "ports");
    const std::string db = (dir / "mirv.mdb").string();
    mirv::createDatabase(db, readFile(MIRV_SCHEMA));
    mirv::Database(db).exec("UPDATE mirve SET timer = '" + std::to_string(kStoredIntervalMs) +
                            "', minute = '1', com = 1, Settings = '" + baud + "', num = '" +
                            std::to_string(kMeters) + "'");
    fs::copy_file(MIRV_STATIOND, dir / "mirv-stationd");
    fs::copy_file(MIRV_STATION, dir / "mirv-station");

    const std::string link = (dir / "ports" / "com1").string();
    const std::string simLog = (dir / "sim.log").string();
    const pid_t sim = spawn(
        {MIRV_METER_SIM, "--link", link, "--meters", "1-20", "--baud", baud, "--verbose"}, simLog);
    const pid_t service = waitFor(link, sim) ? spawn({(dir / "mirv-stationd").string()},
                                                     (dir / "service.log").string())
                                             : -1;
    const pid_t window =
        service > 0 && waitFor(dir / "mirv-station.sock", service)
            ? spawn({(dir / "mirv-station").string()}, (dir / "window.log").string(),
                    {{"QT_QPA_PLATFORM", "offscreen"}})
            : -1;
    int status = 0;
    if (window > 0) {
        std::this_thread::sleep_for(3s); // attached, the board filled
        const long polls0 = answers(simLog);
        const double window0 = cpuSeconds(window), service0 = cpuSeconds(service);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double windowCpu = cpuSeconds(window) - window0;
        const double serviceCpu = cpuSeconds(service) - service0;
        const long polls = answers(simLog) - polls0;
        if (::waitpid(window, nullptr, WNOHANG) == window) {
            std::fprintf(stderr, "the window ended: %s",
                         readFile((dir / "window.log").string()).c_str());
            status = 1;
        } else {
            std::printf("20 meters at %s baud, a poll every %d ms: %ld polls in %.1f s\n",
                        baud.c_str(), intervalMs, polls, s);
            std::printf("attached window (offscreen, board shown): CPU %.2f ms per second "
                        "(%.2f %% of a core), %.0f us per poll\n",
                        windowCpu / s * 1e3, windowCpu / s * 100,
                        polls > 0 ? windowCpu / polls * 1e6 : 0);
            std::printf("mirv-stationd in the same time:           CPU %.2f ms per second, "
                        "%.0f us per poll\n",
                        serviceCpu / s * 1e3, polls > 0 ? serviceCpu / polls * 1e6 : 0);
            std::printf("attached window RSS: %.1f MB\n", statusKb(window, "VmRSS") / 1024.0);
        }
        end(window);
    } else {
        std::fprintf(stderr, "the service did not start: %s",
                     readFile((dir / "service.log").string()).c_str());
        status = 1;
    }
    if (service > 0)
        end(service);
    end(sim);
    fs::remove_all(dir);
    return status;
}
