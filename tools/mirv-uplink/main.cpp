// mirv-uplink [--config PATH] [--once] [--interval SECONDS] [--batch-rows N]
// [--answer-within SECONDS] [--migrate]:
// forwards the history of the program folder's mirv.mdb to the PostgreSQL server named in
// uplink.conf.
#include "central_schema.h"
#include "central_store.h"
#include "pg_result.h"
#include "station_folder.h"
#include "uplink.h"
#include "uplink_config.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int) {
    stopRequested = true;
}

void say(const std::string& line) {
    std::fprintf(stderr, "mirv-uplink: %s\n", line.c_str());
}

// CLI11's message in one line.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// A file that can be read: not empty, not a folder. A file not there is left to the
// configuration's reader to tell.
CLI::Validator readableFile() {
    return CLI::Validator(
        [](std::string& path) -> std::string {
            if (path.empty())
                return "an empty name names no file";
            std::error_code ec;
            if (std::filesystem::is_directory(path, ec))
                return path + " is a directory, not a file";
            if (std::filesystem::exists(path, ec) && ::access(path.c_str(), R_OK) != 0)
                return "cannot read " + path + ": " + std::strerror(errno);
            return {};
        },
        "PATH");
}

} // namespace

int main(int argc, char** argv) {
    const auto programFolder = mirv::stationFolder();
    std::string configPath = (programFolder / "uplink.conf").string();
    mirv::UplinkOptions options;
    double intervalSeconds = 2;
    double answerSeconds = std::chrono::duration<double>(mirv::kServerCallTimeout).count();
    bool migrate = false;

    CLI::App app("Forwards the history of mirv.mdb beside this program to the PostgreSQL server "
                 "named in uplink.conf.",
                 "mirv-uplink");
    app.add_option("--config", configPath, "read PATH instead of uplink.conf beside this program")
        ->check(readableFile())
        ->type_name("PATH");
    app.add_flag("--once", options.once, "forward what is there, then end");
    app.add_option("--interval", intervalSeconds,
                   "how often to look for new rows when up to date (default 2)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, 3600.0));
    app.add_option("--batch-rows", options.batchRows,
                   "rows per read and per server transaction (default 20000)")
        ->type_name("N")
        ->check(CLI::Range(1, 1000000));
    app.add_option("--answer-within", answerSeconds,
                   "give up on a server whose link stays silent this long (default 30; a link "
                   "that answers, as a pooler's while its queue waits, is waited for longer)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1.0, 3600.0));
    app.add_flag("--migrate", migrate,
                 "bring the central schema up to date as the role uplink.conf names (the "
                 "schema's owner), then end; uplink.conf needs no station for this");
    app.set_version_flag("--version", std::string("mirv-uplink ") + MIRV_VERSION,
                         "show the version");
    app.footer("Exit status: 0 done, 1 the server or the local history could not be used "
               "(--once, --migrate), 2 a bad command line or configuration, the station's "
               "name belongs to another PC, or another PC or folder forwards it with this "
               "uplink.id.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << app.version() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        say(oneLine(e.what()) + " (see mirv-uplink --help)");
        return 2;
    }
    options.interval = std::chrono::milliseconds(static_cast<long>(intervalSeconds * 1000));
    mirv::setServerCallTimeout(std::chrono::milliseconds(static_cast<long>(answerSeconds * 1000)));

    const mirv::ConfigResult loaded = mirv::loadUplinkConfig(configPath, !migrate);
    if (const auto* error = std::get_if<mirv::ConfigError>(&loaded)) {
        say(error->message);
        return 2;
    }
    const auto& config = std::get<mirv::UplinkConfig>(loaded);
    if (!config.zone.empty()) {
        if (!std::filesystem::exists("/usr/share/zoneinfo/" + config.zone)) {
            say(configPath + ": zone '" + config.zone + "' is not in the tz database");
            return 2;
        }
        // The station's local times are read in its zone.
        ::setenv("TZ", config.zone.c_str(), 1);
        ::tzset();
    }

    if (migrate) {
        if (auto failure = mirv::migrateCentral(config.conninfo, say)) {
            say("central schema not brought up to date: " + failure->message);
            return 1;
        }
        say("central schema is up to date (version " +
            std::to_string(mirv::centralMigrations().back().version) + ")");
        return 0;
    }

    const std::string identityPath = (programFolder / "uplink.id").string();
    const auto identity = mirv::loadOrCreateIdentity(identityPath);
    if (const auto* error = std::get_if<mirv::ConfigError>(&identity)) {
        say(error->message);
        return 2;
    }
    options.folderLock = identityPath;

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    mirv::Uplink uplink(config, std::get<std::string>(identity),
                        (programFolder / "mirv.mdb").string(), options, say);
    return uplink.run(stopRequested);
}
