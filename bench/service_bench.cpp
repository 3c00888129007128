// service_bench [SECONDS] [BAUD]: the service's CPU time per poll against a plain libmodbus
// master's, each polling the same 20 simulated meters on a pseudo-terminal one after the other
// as fast as the line allows at BAUD (default 19200: a poll every 142 ms), and the service's
// resident memory while it polls. Polls are counted as the answers the simulator logs; CPU
// time as the scheduler counted it for each process's threads.
#include "bench_support.h"
#include "create_database.h"
#include "database.h"
#include "poll_pace.h"
#include "process_support.h"

#include <modbus/modbus.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace mirv::bench;

constexpr int kMeters = 20;
// The interval stored in the settings row; the station polls no faster than the line allows.
constexpr int kStoredIntervalMs = 20;
int intervalMs = kStoredIntervalMs;

// The reference: what a libmodbus master does for the same polls, the same request (holding
// registers 0x30..0x8A of one meter a tick, meters 1 to 20 in turn) on the same timetable.
[[noreturn]] void libmodbusMaster(const std::string& port, int baud) {
    modbus_t* ctx = modbus_new_rtu(port.c_str(), baud, 'N', 8, 1);
    if (!ctx || modbus_connect(ctx) != 0)
        ::_exit(1);
    modbus_set_response_timeout(ctx, 0, (intervalMs - 2) * 1000);
    uint16_t registers[91];
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int meter = 1;; meter = meter % kMeters + 1) {
        modbus_set_slave(ctx, meter);
        modbus_read_registers(ctx, 0x30, 91, registers);
        next.tv_nsec += intervalMs * 1000000L;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}

struct Measured {
    double cpuPerPollUs = 0;
    long polls = 0;
    double seconds = 0;
};

// Lets `pid` settle for two seconds, then measures it for `seconds`.
Measured measure(pid_t pid, const std::string& simLog, int seconds) {
    std::this_thread::sleep_for(2s);
    const long polls0 = answers(simLog);
    const double cpu0 = cpuSeconds(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    Measured m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds(pid) - cpu0;
    m.polls = answers(simLog) - polls0;
    m.cpuPerPollUs = m.polls > 0 ? cpu / m.polls * 1e6 : 0;
    return m;
}

void print(const char* who, const Measured& m) {
    const double due = m.seconds * 1000 / intervalMs;
    std::printf("%-18s %6ld polls answered in %.1f s (%.0f %% of those due), CPU per poll "
                "%.1f us\n",
                who, m.polls, m.seconds, 100.0 * m.polls / due, m.cpuPerPollUs);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string baud = argc > 2 ? argv[2] : "19200";
    intervalMs = mirv::pollIntervalFor(kStoredIntervalMs, baud + ",n,8,1");
    char dirTemplate[] = "/tmp/mirv-service-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    fs::create_directories(dir / "ports");
    const std::string db = (dir / "mirv.mdb").string();
    mirv::createDatabase(db, readFile(MIRV_SCHEMA));
    mirv::Database(db).exec("UPDATE mirve SET timer = '" + std::to_string(kStoredIntervalMs) +
                            "', minute = '1', com = 1, Settings = '" + baud + "', num = '" +
                            std::to_string(kMeters) + "'");
    const fs::path service = dir / "mirv-stationd";
    fs::copy_file(MIRV_STATIOND, service);

    const std::string link = (dir / "ports" / "com1").string();
    const std::string simLog = (dir / "sim.log").string();
    const pid_t sim = spawn(
        {MIRV_METER_SIM, "--link", link, "--meters", "1-20", "--baud", baud, "--verbose"}, simLog);
    while (!fs::exists(link)) {
        if (::waitpid(sim, nullptr, WNOHANG) == sim) {
            std::fprintf(stderr, "meter-sim ended: %s", readFile(simLog).c_str());
            fs::remove_all(dir);
            return 1;
        }
        std::this_thread::sleep_for(10ms);
    }

    std::printf("20 meters on a pseudo-terminal at %s baud, a poll every %d ms\n", baud.c_str(),
                intervalMs);
    const pid_t master = ::fork();
    if (master == 0)
        libmodbusMaster(link, std::stoi(baud));
    const Measured reference = measure(master, simLog, seconds);
    end(master);
    print("libmodbus master:", reference);

    const pid_t station = spawn({service.string()}, (dir / "service.log").string());
    const Measured measured = measure(station, simLog, seconds);
    const long rssKb = statusKb(station, "VmRSS"), peakKb = statusKb(station, "VmHWM");
    end(station);
    print("mirv-stationd:", measured);
    std::printf("mirv-stationd CPU per poll: %.2f x the libmodbus master's (goal <= 1.5)\n",
                reference.cpuPerPollUs > 0 ? measured.cpuPerPollUs / reference.cpuPerPollUs : 0);
    std::printf("mirv-stationd RSS while polling: %.1f MB, peak %.1f MB (goal < 15)\n",
                rssKb / 1024.0, peakKb / 1024.0);

    end(sim);
    fs::remove_all(dir);
    return 0;
}
