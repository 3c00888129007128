#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mirv::test {

// A program the test starts and always stops again, even when an assertion fails.
class ChildProcess {
  public:
    ChildProcess() = default;
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<std::pair<std::string, std::string>>& env = {}) {
        start(argv, env);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void start(const std::vector<std::string>& argv,
               const std::vector<std::pair<std::string, std::string>>& env = {}) {
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : env)
                ::setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }

    // Runs `body` in a forked child (no exec); the child never returns into the test.
    void startFunction(const std::function<void()>& body) {
        pid_ = ::fork();
        if (pid_ == 0) {
            body();
            ::_exit(0);
        }
    }

    // Stops it (SIGTERM, then SIGKILL after a second) and returns its exit status.
    int stop(int signal = SIGTERM) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signal);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Waits up to `timeout` for it to end by itself; its exit status, or -1 if still running.
    int waitForExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
};

// `argv` through the shell, its standard error (and with `output` its standard output too)
// appended to the file `log`. The shell execs the program, so the PID is the program's own.
inline std::vector<std::string> withLog(const std::vector<std::string>& argv,
                                        const std::string& log, bool output = false) {
    std::vector<std::string> shell{
        "/bin/sh", "-c",
        "exec \"$@\" " + std::string(output ? ">>'" + log + "' " : "") + "2>>'" + log + "'", "sh"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return shell;
}

// Waits up to `timeout` for a path (or a link) to appear.
inline bool waitForPath(const std::filesystem::path& p,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::error_code ec;
    while (std::chrono::steady_clock::now() < end) {
        if (std::filesystem::exists(p, ec))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace mirv::test
