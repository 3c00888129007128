// The built service, mirv-stationd, in a program folder of its own against simulated meters
// on a pseudo-terminal, started as a service manager starts it: no display, no session.
#include "child_process.h"
#include "database.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace mirv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// MeterID of every history row, in the order written.
std::vector<std::string> loggedMeters(const std::string& db) {
    Database d(db);
    Statement q(d, "SELECT MeterID FROM Historydata ORDER BY ID");
    std::vector<std::string> meters;
    while (q.step())
        meters.push_back(q.text(0));
    return meters;
}

// A folder polling meters 1 to 3, a pass every (test) minute of a second, with the window's
// and the service's programs in it.
struct ServiceFolder {
    test::ProgramFolder folder;
    std::string port = folder.path() + "/ports/com1";
    std::string log = folder.path() + "/stderr.log";
    std::unique_ptr<test::ChildProcess> sim;

    ServiceFolder() {
        folder.exec(R"(UPDATE mirve SET ("timer", "minute", "com", "Settings", "num") =
                       ('100', '1', 1, '9600', '3'))");
        for (const char* program : {MIRV_STATIOND, MIRV_STATION})
            fs::copy_file(program, fs::path(folder.path()) / fs::path(program).filename());
        sim = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{MIRV_METER_SIM, "--link", port, "--meters", "1-3"});
        EXPECT_TRUE(test::waitForPath(port));
    }
    std::string program(const char* built) const {
        return (fs::path(folder.path()) / fs::path(built).filename()).string();
    }
    // The service with nothing of the environment but its test minute (and the sanitizers'
    // options, when the build has them), as `env -i` leaves it.
    std::unique_ptr<test::ChildProcess> startService(const std::string& logFile = {}) const {
        std::vector<std::string> argv{"/usr/bin/env", "-i", "MIRV_TEST_MINUTE_MS=1000"};
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* value = std::getenv(name))
                argv.push_back(std::string(name) + "=" + value);
        argv.push_back(program(MIRV_STATIOND));
        return std::make_unique<test::ChildProcess>(
            test::withLog(argv, logFile.empty() ? log : logFile));
    }
    std::unique_ptr<test::ChildProcess> startWindow() const {
        return std::make_unique<test::ChildProcess>(
            test::withLog({program(MIRV_STATION)}, log),
            std::vector<std::pair<std::string, std::string>>{{"QT_QPA_PLATFORM", "offscreen"},
                                                             {"MIRV_TEST_MINUTE_MS", "1000"}});
    }
    bool waitForRows(std::size_t rows) const {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (loggedMeters(folder.databasePath()).size() < rows)
            if (std::chrono::steady_clock::now() > end)
                return false;
            else
                std::this_thread::sleep_for(200ms);
        return true;
    }
};

TEST(ServiceProcess, LogsWithoutDisplayOrSessionAndEndsCleanlyOnSigterm) {
    ServiceFolder s;
    auto service = s.startService();
    ASSERT_TRUE(s.waitForRows(6)) << slurp(s.log);
    const auto meters = loggedMeters(s.folder.databasePath());
    EXPECT_EQ(std::vector<std::string>(meters.begin(), meters.begin() + 3),
              (std::vector<std::string>{"1", "2", "3"}));
    const int status = service->stop(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status)) << slurp(s.log);
    EXPECT_EQ(WEXITSTATUS(status), 0) << slurp(s.log);
}

// One station per folder: a service started where a service or a window already runs says so
// and fails; the first goes on logging.
TEST(ServiceProcess, SecondStationInTheFolderIsRefusedByTheLock) {
    for (bool windowFirst : {false, true}) {
        SCOPED_TRACE(windowFirst ? "window first" : "service first");
        ServiceFolder s;
        auto first = windowFirst ? s.startWindow() : s.startService();
        ASSERT_TRUE(s.waitForRows(3)) << slurp(s.log);
        const std::string secondLog = s.folder.path() + "/second.log";
        auto second = s.startService(secondLog);
        const int status = second->waitForExit(20s);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(slurp(secondLog),
                  "mirv-stationd: another station already runs in " + s.folder.path() + "\n");

        const std::size_t rows = loggedMeters(s.folder.databasePath()).size();
        EXPECT_TRUE(s.waitForRows(rows + 3)) << "the first station stopped logging";
        EXPECT_EQ(first->waitForExit(0ms), -1);
    }
}

// The service is built without the GUI libraries: neither its dynamic section nor the engine
// library's link closure names them.
TEST(ServiceLinkLine, CarriesNoGuiLibrary) {
    std::string needed;
    std::unique_ptr<FILE, int (*)(FILE*)> readelf(
        ::popen(("readelf -d '" + std::string(MIRV_STATIOND) + "'").c_str(), "r"), ::pclose);
    ASSERT_TRUE(readelf);
    char line[512];
    while (std::fgets(line, sizeof line, readelf.get()))
        if (std::string_view(line).find("(NEEDED)") != std::string_view::npos)
            needed += line;
    EXPECT_NE(needed.find("libQt6Core.so"), std::string::npos) << needed;
    for (const char* gui : {"Qt6Gui", "Qt6Widgets"})
        EXPECT_EQ(needed.find(gui), std::string::npos) << needed;

    const std::string closure = slurp(MIRV_ENGINE_LINKS);
    EXPECT_NE(closure.find("Qt6::Core\n"), std::string::npos) << closure;
    for (const char* gui : {"Gui", "Widgets"})
        EXPECT_EQ(closure.find(gui), std::string::npos) << closure;
}

} // namespace
} // namespace mirv
