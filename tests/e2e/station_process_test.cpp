// The built station in a program folder of its own, polling simulated meters on a
// pseudo-terminal: what it shows on its board reaches the history table every minute. The
// programs' minute is made a few seconds long (MIRV_TEST_MINUTE_MS): no test waits a real one.
#include "child_process.h"
#include "database.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    // Five meters polled 200 ms apart: all have answered before the first pass.
    const std::vector<std::pair<std::string, std::string>> env{
        {"QT_QPA_PLATFORM", "offscreen"}, {"TZ", zone.tz}, {"MIRV_TEST_MINUTE_MS", "5000"}};
    test::ChildProcess first({station.string()}, env);
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(first.waitForExit(0ms), -1) << "the station ended by itself";

    // A second copy in the same folder ends at once, silently.
    test::ChildProcess second({station.string()}, env);
    const int secondStatus = second.waitForExit(20s);
    ASSERT_TRUE(WIFEXITED(secondStatus));
    EXPECT_EQ(WEXITSTATUS(secondStatus), 0);

    // The first record pass comes one minute after start; the silent meter 4 has no row.
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (loggedRows(folder.databasePath()).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(500ms);
    const auto rows = loggedRows(folder.databasePath());
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ(rows.size() % 4, 0u) << "four rows a pass";
    const char* meters[] = {"1", "2", "3", "5"};
    for (std::size_t i = 0; i < 4; ++i) {
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
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
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

namespace mirv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// MeterID and CreateTime of the rows the file holds, as "1 2026-…".
std::vector<std::string> pendingRows(const std::string& path) {
    std::vector<std::string> rows;
    std::istringstream lines(slurp(path));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("MeterID") || !line.ends_with(",1"))
            continue;
        const auto time = line.rfind(',', line.size() - 3);
        rows.push_back(line.substr(0, line.find(',')) + " " +
                       line.substr(time + 1, line.size() - time - 3));
    }
    return rows;
}

std::vector<std::string> storedRows(const std::string& db) {
    std::vector<std::string> rows;
    for (const auto& r : loggedRows(db))
        rows.push_back(r[0] + " " + r[5]);
    return rows;
}

// Sends `signal` and waits for the end: the shutdown gives waiting rows one more try of a few
// seconds.
int endBy(test::ChildProcess& process, int signal) {
    ::kill(process.pid(), signal);
    const int status = process.waitForExit(30s);
    return status == -1 ? process.stop(SIGKILL) : status;
}

// A station program (the window or the service) in a folder of its own polling meters 1 and
// 2, logging every minute, while the database cannot be written; `asUser` runs it as an
// unprivileged user when the test is root. Its minute lasts a second while the outage lasts.
struct OutageStation {
    test::ProgramFolder folder;
    fs::path station;
    std::string port = folder.path() + "/ports/com1";
    std::string pending = folder.databasePath() + "-pending.csv";
    std::string log = folder.path() + "/stderr.log";
    std::unique_ptr<test::ChildProcess> sim;

    explicit OutageStation(const fs::path& program = MIRV_STATION)
        : station(fs::path(folder.path()) / program.filename()) {
        folder.exec(R"(UPDATE mirve SET ("timer", "minute", "com", "Settings", "num") =
                       ('200', '1', 1, '9600', '2'))");
        fs::copy_file(program, station);
        sim = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{MIRV_METER_SIM, "--link", port, "--meters", "1-2"});
        EXPECT_TRUE(test::waitForPath(port));
    }
    // `minuteMs` empty: a real minute, so no pass comes while a test looks.
    std::unique_ptr<test::ChildProcess> start(bool asUser = false,
                                              const std::string& minuteMs = "1000") {
        std::vector<std::string> argv{station.string()};
        if (asUser && ::geteuid() == 0) {
            argv.insert(argv.begin(),
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
            fs::permissions(fs::canonical(port), fs::perms::others_read | fs::perms::others_write,
                            fs::perm_options::add);
        }
        return std::make_unique<test::ChildProcess>(
            test::withLog(argv, log),
            std::vector<std::pair<std::string, std::string>>{{"QT_QPA_PLATFORM", "offscreen"},
                                                             {"MIRV_TEST_MINUTE_MS", minuteMs}});
    }
    // Waits for the first pass's rows to reach the pending file.
    bool waitForPending(std::size_t rows) {
        const auto end = std::chrono::steady_clock::now() + 100s;
        while (std::chrono::steady_clock::now() < end) {
            if (pendingRows(pending).size() >= rows)
                return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }
    // After the outage: a restart writes the rows that waited, each once, with its own time.
    void restartAndCheck(const std::vector<std::string>& waited) {
        auto second = start(false, "");
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (fs::exists(pending) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(200ms);
        EXPECT_FALSE(fs::exists(pending));
        EXPECT_EQ(storedRows(folder.databasePath()), waited);
        // SIGINT (Ctrl-C in a terminal) ends it as cleanly as SIGTERM.
        const int status = endBy(*second, SIGINT);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
};

// The window and the service alike.
TEST(StationProcess, RowsWaitingForALockedDatabaseSurviveSigtermAndGoInOnce) {
    for (const char* program : {MIRV_STATION, MIRV_STATIOND}) {
        SCOPED_TRACE(program);
        OutageStation o(program);
        auto holder = std::make_unique<Database>(o.folder.databasePath());
        ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE"));
        auto first = o.start();
        ASSERT_TRUE(o.waitForPending(2)) << slurp(o.log);
        const int status = endBy(*first, SIGTERM);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(slurp(o.log).find("lost"), std::string::npos) << slurp(o.log);
        const auto waited = pendingRows(o.pending);
        ASSERT_GE(waited.size(), 2u);
        EXPECT_TRUE(storedRows(o.folder.databasePath()).empty());
        holder.reset();
        o.restartAndCheck(waited);
    }
}

TEST(StationProcess, RowsWaitingForAReadOnlyDatabaseSurviveSigtermAndGoInOnce) {
    OutageStation o;
    if (::geteuid() == 0) { // the unprivileged user makes its lock and pending files there
        for (const auto& p : {fs::path(o.folder.path()), fs::path(o.folder.databasePath())})
            ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    }
    fs::permissions(o.folder.databasePath(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto first = o.start(true);
    ASSERT_TRUE(o.waitForPending(2)) << slurp(o.log);
    const int status = endBy(*first, SIGTERM);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto waited = pendingRows(o.pending);
    ASSERT_GE(waited.size(), 2u);
    EXPECT_TRUE(storedRows(o.folder.databasePath()).empty());
    fs::permissions(o.folder.databasePath(), fs::perms::owner_write, fs::perm_options::add);
    o.restartAndCheck(waited);
}

// Not even the pending file can be made: the end of the program says how many rows are lost
// and ends with a failure status.
TEST(StationProcess, RowsSavedNowhereAreCountedAtExit) {
    OutageStation o;
    fs::create_directory(o.pending); // a folder where the file should be
    auto holder = std::make_unique<Database>(o.folder.databasePath());
    ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE"));
    // Minutes of two seconds: both meters have answered before the first pass.
    auto first = o.start(false, "2000");
    std::this_thread::sleep_for(5s); // past two passes
    ASSERT_EQ(first->waitForExit(0ms), -1) << slurp(o.log);
    const int status = endBy(*first, SIGTERM);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    // The toolkit may warn before it (no runtime folder in a test's environment).
    const std::string log = slurp(o.log);
    const std::string err = log.substr(std::min(log.find("mirv-station: "), log.size()));
    const std::string tail = " history rows lost: neither " + o.folder.databasePath() + " nor " +
                             o.pending + " could be written\n";
    ASSERT_TRUE(err.starts_with("mirv-station: ") && err.ends_with(tail)) << log;
    // Two meters a pass.
    const long long lost = std::stoll(err.substr(14));
    EXPECT_GE(lost, 2);
    EXPECT_EQ(lost % 2, 0);
}

} // namespace
} // namespace mirv
