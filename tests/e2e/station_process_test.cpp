// The built station in a program folder of its own, polling simulated meters on a
// pseudo-terminal: what it shows on its board reaches the history table every minute.
#include "child_process.h"
#include "database.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace mirv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::vector<std::string>> loggedRows(const std::string& db) {
    Database d(db);
    Statement q(d, "SELECT MeterID, MinuteAverage, Foward, TXTctemperature1, Alarmstatus "
                   "FROM Historydata ORDER BY ID");
    std::vector<std::vector<std::string>> rows;
    while (q.step())
        rows.push_back({q.text(0), q.text(1), q.text(2), q.text(3), q.text(4)});
    return rows;
}

bool isDecimal(const std::string& s, int decimals) {
    const auto point = s.find('.');
    return point != std::string::npos && point > 0 && s.size() - point - 1 == size_t(decimals) &&
           s.find_first_not_of("-0123456789.") == std::string::npos;
}

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

    const std::vector<std::pair<std::string, std::string>> env{{"QT_QPA_PLATFORM", "offscreen"}};
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
    std::this_thread::sleep_for(2s); // the pass commits its rows one by one
    const auto rows = loggedRows(folder.databasePath());
    ASSERT_EQ(rows.size(), 4u);
    const char* meters[] = {"1", "2", "3", "5"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], meters[i]);
        EXPECT_TRUE(isDecimal(rows[i][1], 4)) << rows[i][1];
        EXPECT_TRUE(isDecimal(rows[i][2], 2)) << rows[i][2];
        EXPECT_TRUE(isDecimal(rows[i][3], 2)) << rows[i][3];
        EXPECT_EQ(rows[i][4], i == 1 ? "通讯正常,励磁报警" : "通讯正常");
    }

    // SIGTERM (a service stop, the session ending) ends it cleanly.
    const int status = first.stop(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace mirv
