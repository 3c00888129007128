// The built station in a program folder of its own, polling simulated meters on a
// pseudo-terminal: what it shows on its board reaches the history table every minute.
#include "child_process.h"
#include "database.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <filesystem>

namespace mirv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::vector<std::string>> loggedRows(const std::string& db) {
    Database d(db);
    Statement q(d, "SELECT MeterID, MinuteAverage, Foward, TXTctemperature1, Alarmstatus, "
                   "CreateTime FROM Historydata ORDER BY ID");
    std::vector<std::vector<std::string>> rows;
    while (q.step())
        rows.push_back({q.text(0), q.text(1), q.text(2), q.text(3), q.text(4), q.text(5)});
    return rows;
}

bool isDecimal(const std::string& s, int decimals) {
    const auto point = s.find('.');
    return point != std::string::npos && point > 0 && s.size() - point - 1 == size_t(decimals) &&
           s.find_first_not_of("-0123456789.") == std::string::npos;
}

// The local time zone of the station's process, chosen so that the wall clock there reads an
// afternoon hour and differs from UTC: a time stamp in UTC or on a 12-hour clock shows.
struct AfternoonZone {
    std::string tz;
    int offsetHours = 0;
    AfternoonZone() {
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        int offset = (15 - utc.tm_hour + 24) % 24;
        if (offset == 0)
            offset = 1;
        if (offset > 12)
            offset -= 24;
        offsetHours = offset;
        // POSIX zones count hours west of Greenwich.
        tz = "MIRV" + std::string(offset > 0 ? "-" : "+") + std::to_string(std::abs(offset));
    }
    // Seconds between a stored 'YYYY-MM-DD HH:MM:SS' and the zone's wall clock now.
    long long secondsFromNow(const std::string& stamp) const {
        std::tm t{};
        strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &t);
        return std::llabs(static_cast<long long>(timegm(&t)) - std::time(nullptr) -
                          offsetHours * 3600LL);
    }
};

TEST(StationProcess, PollsTheSimulatorAndLogsWhatItShows) {
    test::ProgramFolder folder;
    folder.exec(R"(UPDATE mirve SET ("timer", "minute", "com", "Settings", "num") =
                   ('200', '1', 1, '9600', '5'))");
    const fs::path station = fs::path(folder.path()) / "mirv-station";
    fs::copy_file(MIRV_STATION, station);
    const std::string port = folder.path() + "/ports/com1";
    test::ChildProcess sim({MIRV_METER_SIM, "--link", port, "--meters", "1-5", "--fault",
                            "4:silent", "--alarm", "2:excite"});
    ASSERT_TRUE(test::waitForPath(port));

    const AfternoonZone zone;
    const std::vector<std::pair<std::string, std::string>> env{{"QT_QPA_PLATFORM", "offscreen"},
                                                               {"TZ", zone.tz}};
    test::ChildProcess first({station.string()}, env);
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(first.waitForExit(0ms), -1) << "the station ended by itself";

    // A second copy in the same folder ends at once, silently.
    test::ChildProcess second({station.string()}, env);
    const int secondStatus = second.waitForExit(20s);
    ASSERT_TRUE(WIFEXITED(secondStatus));
    EXPECT_EQ(WEXITSTATUS(secondStatus), 0);

    // The first record pass comes one minute after start.
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (loggedRows(folder.databasePath()).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(500ms);
    const auto rows = loggedRows(folder.databasePath());
    ASSERT_EQ(rows.size(), 4u);
    const char* meters[] = {"1", "2", "3", "5"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], meters[i]);
        EXPECT_TRUE(isDecimal(rows[i][1], 4)) << rows[i][1];
        EXPECT_TRUE(isDecimal(rows[i][2], 2)) << rows[i][2];
        EXPECT_TRUE(isDecimal(rows[i][3], 2)) << rows[i][3];
        EXPECT_EQ(rows[i][4], i == 1 ? "通讯正常,励磁报警" : "通讯正常");
        // Local wall-clock time on a 24-hour clock, within the minute of the pass.
        EXPECT_LT(zone.secondsFromNow(rows[i][5]), 120) << rows[i][5] << " in " << zone.tz;
    }

    // SIGTERM (a service stop, the session ending) ends it cleanly.
    const int status = first.stop(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A termination signal ends the station even while start-up's failure box waits for OK.
TEST(StationProcess, SignalEndsTheProgramWhileStartUpsBoxIsOpen) {
    for (int signal : {SIGTERM, SIGHUP}) {
        test::ProgramFolder folder(false); // no database: start-up fails and says so
        const fs::path station = fs::path(folder.path()) / "mirv-station";
        fs::copy_file(MIRV_STATION, station);
        test::ChildProcess process({station.string()}, {{"QT_QPA_PLATFORM", "offscreen"}});
        std::this_thread::sleep_for(2s);
        ASSERT_EQ(process.waitForExit(0ms), -1) << "the box keeps the station waiting";
        ::kill(process.pid(), signal);
        const int status = process.waitForExit(10s);
        ASSERT_NE(status, -1) << "signal " << signal << " did not end the station";
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

// A folder the station cannot write is not a second copy: it says so in a box (closed here by
// a signal) and ends with a failure status. Root writes anywhere, so the station then runs as
// an unprivileged user.
TEST(StationProcess, FolderItCannotWriteIsReportedAndFails) {
    test::ProgramFolder folder;
    const fs::path station = fs::path(folder.path()) / "mirv-station";
    fs::copy_file(MIRV_STATION, station);
    fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
    std::vector<std::string> argv{station.string()};
    if (::geteuid() == 0) {
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    } else {
        fs::permissions(folder.path(), fs::perms::owner_write, fs::perm_options::remove);
    }
    test::ChildProcess process(argv, {{"QT_QPA_PLATFORM", "offscreen"}});
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(process.waitForExit(0ms), -1) << "ended at once, as a second copy would";
    const int status = process.stop(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    fs::permissions(folder.path(), fs::perms::owner_all, fs::perm_options::add);
}

} // namespace
} // namespace mirv
