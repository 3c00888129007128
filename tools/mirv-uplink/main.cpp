// mirv-uplink [--config PATH] [--once] [--interval SECONDS] [--batch-rows N]: forwards the
// history of the program folder's mirv.mdb to the PostgreSQL server named in uplink.conf.
#include "uplink.h"
#include "uplink_config.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int) {
    stopRequested = true;
}

void say(const std::string& line) {
    std::fprintf(stderr, "mirv-uplink: %s\n", line.c_str());
}

constexpr const char* kUsage =
    "usage: mirv-uplink [--config PATH] [--once] [--interval SECONDS] [--batch-rows N]\n";

int usage(const std::string& problem) {
    say(problem);
    std::fputs(kUsage, stderr);
    return 2;
}

int help() {
    std::fputs(
        "Forwards the history of mirv.mdb beside this program to the PostgreSQL server named "
        "in uplink.conf.\n\n",
        stdout);
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "  --config PATH        read PATH instead of uplink.conf beside this program\n"
        "  --once               forward what is there, then end\n"
        "  --interval SECONDS   how often to look for new rows when up to date (default 2)\n"
        "  --batch-rows N       rows per read and per server transaction (default 20000)\n"
        "  --help               show this text\n"
        "  --version            show the version\n\n"
        "Exit status: 0 all forwarded (--once) or ended by SIGTERM, 1 the server or the local\n"
        "history could not be used (--once), 2 bad command line or configuration.\n",
        stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    const auto programFolder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    std::string configPath = (programFolder / "uplink.conf").string();
    mirv::UplinkOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            return help();
        } else if (arg == "--version") {
            std::puts("mirv-uplink " MIRV_VERSION);
            return 0;
        } else if (arg == "--once") {
            options.once = true;
        } else if (arg == "--config" && hasValue) {
            configPath = argv[++i];
        } else if (arg == "--interval" && hasValue) {
            const double seconds = std::atof(argv[++i]);
            if (!(seconds > 0 && seconds <= 3600))
                return usage("--interval takes seconds, more than 0 and at most 3600");
            options.interval = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        } else if (arg == "--batch-rows" && hasValue) {
            options.batchRows = std::atoi(argv[++i]);
            if (options.batchRows < 1 || options.batchRows > 1000000)
                return usage("--batch-rows takes a number from 1 to 1000000");
        } else {
            return usage("unknown argument '" + arg + "'");
        }
    }

    const mirv::ConfigResult config = mirv::loadUplinkConfig(configPath);
    if (const auto* error = std::get_if<mirv::ConfigError>(&config)) {
        say(error->message);
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    mirv::Uplink uplink(std::get<mirv::UplinkConfig>(config), (programFolder / "mirv.mdb").string(),
                        options, say);
    return uplink.run(stopRequested);
}
