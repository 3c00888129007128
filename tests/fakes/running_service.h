#pragma once

#include "child_process.h"
#include "program_folder.h"

#include <filesystem>
#include <string>

namespace mirv::test {

// The built service in a program folder of its own, polling five simulated meters on a
// pseudo-terminal at 19200 baud every 200 ms, its minute 500 ms long, with an environment cleared
// of any display or desktop session.
class RunningService {
  public:
    RunningService() {
        folder.exec(R"(UPDATE mirve SET ("timer", "minute", "com", "Settings", "num") =
                       ('200', '1', 1, '19200', '5'))");
        binary_ = std::filesystem::path(folder.path()) / "mirv-stationd";
        std::filesystem::copy_file(MIRV_STATIOND, binary_);
        const std::string port = folder.path() + "/ports/com1";
        sim.start({MIRV_METER_SIM, "--link", port, "--meters", "1-5"});
        waitForPath(port);
        start();
    }
    // Starts the service (again) and waits for its socket.
    bool start() {
        std::filesystem::remove(socketPath());
        process.start(withLog(
            {"env", "-i", "PATH=/usr/bin:/bin", "MIRV_TEST_MINUTE_MS=500", binary_.string()},
            folder.path() + "/service.log"));
        return waitForPath(socketPath(), std::chrono::seconds(20));
    }
    std::string socketPath() const { return folder.path() + "/mirv-station.sock"; }

    ProgramFolder folder;
    ChildProcess sim;
    ChildProcess process;

  private:
    std::filesystem::path binary_;
};

} // namespace mirv::test
