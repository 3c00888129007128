#pragma once

// What the benchmarks that run the station's programs as processes measure them by.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace mirv::bench {

// CPU time the scheduler counted for every thread of process `pid`, in seconds.
inline double cpuSeconds(pid_t pid) {
    namespace fs = std::filesystem;
    double total = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream stat(task.path() / "schedstat");
        long long onCpu = 0;
        if (stat >> onCpu)
            total += onCpu / 1e9;
    }
    return total;
}

// A field of /proc/PID/status in KiB, or -1.
inline long statusKb(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// Answers the simulator has logged so far (it runs with --verbose).
inline long answers(const std::string& simLog) {
    std::ifstream in(simLog);
    long n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.rfind("answer ", 0) == 0;
    return n;
}

// Runs argv[0] with these variables added to the environment, its standard error to `errLog`.
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& errLog = "/dev/null",
                   const std::vector<std::pair<std::string, std::string>>& env = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(errLog.c_str(), "a", stderr);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

inline void end(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

} // namespace mirv::bench
