#pragma once

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mirv::test {

// The processes started, directly or not, by `root`: children first found in /proc.
inline std::vector<pid_t> descendantsOf(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> parents; // pid, parent
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid <= 0)
                continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream rest(line.substr(close + 2));
            char state = 0;
            pid_t parent = 0;
            rest >> state >> parent;
            parents.emplace_back(pid, parent);
        }
        ::closedir(proc);
    }
    std::vector<pid_t> found{root};
    for (std::size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, parent] : parents)
            if (parent == found[i])
                found.push_back(pid);
    found.erase(found.begin());
    return found;
}

// Ends a process this test started and everything it started in turn, by their PIDs.
inline void endProcessTree(pid_t root, int signal = SIGKILL) {
    if (root <= 0)
        return;
    const std::vector<pid_t> descendants = descendantsOf(root);
    ::kill(root, signal);
    for (pid_t pid : descendants)
        ::kill(pid, signal);
}

// Notes a process the test started in the file the test script names, so the script can end
// it should the test itself crash before it could.
inline void noteStartedProcess(long long pid) {
    if (const char* file = std::getenv("MIRV_TEST_PIDS"); file && *file && pid > 0)
        std::ofstream(file, std::ios::app) << pid << '\n';
}

} // namespace mirv::test
