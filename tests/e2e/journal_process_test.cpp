// The service's journal against simulated meters that the test silences and alarms while they
// run, through the simulator's control FIFO: each change is one begin and, once it is over, one
// end; the meters left alone give none.
#include "child_process.h"
#include "database.h"
#include "program_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

namespace mirv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done())
        if (std::chrono::steady_clock::now() > end)
            return false;
        else
            std::this_thread::sleep_for(100ms);
    return true;
}

// The service polling meters 1 to 3 as fast as 19200 baud allows, a pass every second.
struct JournalFolder {
    test::ProgramFolder folder;
    std::string port = folder.path() + "/ports/com1";
    std::string control = folder.path() + "/sim-control";
    std::string log = folder.path() + "/stderr.log";
    std::unique_ptr<test::ChildProcess> sim, service;

    JournalFolder() {
        folder.exec(R"(UPDATE mirve SET ("timer", "minute", "com", "Settings", "num") =
                       ('100', '1', 1, '19200', '3'))");
        fs::copy_file(MIRV_STATIOND, fs::path(folder.path()) / "mirv-stationd");
        sim = std::make_unique<test::ChildProcess>(
            test::withLog({MIRV_METER_SIM, "--link", port, "--meters", "1-3", "--baud", "19200",
                           "--control", control},
                          log));
        EXPECT_TRUE(test::waitForPath(control));
        std::vector<std::string> argv{"/usr/bin/env", "-i", "MIRV_TEST_MINUTE_MS=1000"};
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* value = std::getenv(name))
                argv.push_back(std::string(name) + "=" + value);
        argv.push_back(folder.path() + "/mirv-stationd");
        service = std::make_unique<test::ChildProcess>(test::withLog(argv, log));
        EXPECT_TRUE(waitFor([&] { return historyRows(3) >= 2; })) << slurp(log);
    }
    // Refused at once, rather than waiting, when the simulator is gone.
    void send(const std::string& line) const {
        const int fd = ::open(control.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << "the simulator does not read its control FIFO";
        const std::string text = line + "\n";
        EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
    }
    long long historyRows(int meter) const {
        Database db(folder.databasePath());
        Statement q(db,
                    "SELECT count(*) FROM Historydata WHERE MeterID = " + std::to_string(meter));
        return q.step() ? q.integer(0) : 0;
    }
    // The meters' own events, in the journal's order.
    std::vector<std::string> meterEvents() const {
        Database db(folder.databasePath());
        Statement q(db, "SELECT MeterID || ' ' || Phase || ' ' || Text FROM Events "
                        "WHERE MeterID <> 0 ORDER BY ID");
        std::vector<std::string> rows;
        while (q.step())
            rows.push_back(q.text(0));
        return rows;
    }
    bool waitForEvent(const std::string& row) const {
        return waitFor([&] {
            const auto rows = meterEvents();
            return std::find(rows.begin(), rows.end(), row) != rows.end();
        });
    }
    // Two more passes: many more polls of every meter.
    bool waitTwoPasses(int meter) const {
        const long long rows = historyRows(meter);
        return waitFor([&] { return historyRows(meter) >= rows + 2; });
    }
};

TEST(JournalProcess, AMeterSilentAWhileIsOneBeginAndOneEnd) {
    JournalFolder s;
    s.send("silent 2");
    ASSERT_TRUE(s.waitForEvent("2 begin 仪表2通讯中断")) << slurp(s.log);
    ASSERT_TRUE(s.waitTwoPasses(1)); // meter 2 misses on meanwhile
    s.send("answer 2");
    ASSERT_TRUE(s.waitForEvent("2 end 仪表2通讯中断恢复")) << slurp(s.log);
    ASSERT_TRUE(s.waitTwoPasses(2));
    const int status = s.service->stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp(s.log);
    EXPECT_EQ(s.meterEvents(),
              (std::vector<std::string>{"2 begin 仪表2通讯中断", "2 end 仪表2通讯中断恢复"}));
}

TEST(JournalProcess, EachStatusFlagBeginsAndEndsOnce) {
    const struct {
        const char* simName;
        const char* text;
    } flags[] = {{"excite", "励磁报警"},
                 {"electrode", "电极报警"},
                 {"empty-pipe", "空管报警"},
                 {"upper", "上限报警"},
                 {"lower", "下限报警"}};
    JournalFolder s;
    std::vector<std::string> expected;
    for (const auto& f : flags) {
        SCOPED_TRACE(f.simName);
        expected.push_back(std::string("3 begin 仪表3") + f.text);
        s.send(std::string("alarm 3:") + f.simName);
        ASSERT_TRUE(s.waitForEvent(expected.back())) << slurp(s.log);
        ASSERT_TRUE(s.waitTwoPasses(3)); // the flag stays a while
        expected.push_back(std::string("3 end 仪表3") + f.text + "恢复");
        s.send("alarm 3:none");
        ASSERT_TRUE(s.waitForEvent(expected.back())) << slurp(s.log);
    }
    ASSERT_TRUE(s.waitTwoPasses(3));
    EXPECT_EQ(s.meterEvents(), expected);
}

} // namespace
} // namespace mirv
