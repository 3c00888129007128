#pragma once

#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mirv::test {

struct ProgramRun {
    int status = -1; // exit status; -1 when it did not end by itself in time (it was killed)
    std::string out;
    std::string err;
};

// Runs a program to its end with its standard output and error captured in files, its
// standard input from `stdinFd` (or /dev/null). Kills it, and every process it started, by
// its process group (its PID) when it outlasts `timeout`.
inline ProgramRun runProgram(const std::vector<std::string>& argv, int stdinFd = -1,
                             std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
    TempDir capture;
    const std::string outPath = capture.str() + "/out", errPath = capture.str() + "/err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0); // its own group, so that whatever it starts is killed with it
        const int in = stdinFd >= 0 ? stdinFd : ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ProgramRun run;
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (status != -1 && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}

} // namespace mirv::test
