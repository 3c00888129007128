#include "control.h"

#include "options.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv::sim {

bool applyControlLine(const std::string& line, Responder& responder) {
    const auto space = line.find(' ');
    if (space == std::string::npos)
        return false;
    const std::string verb = line.substr(0, space), rest = line.substr(space + 1);
    if (verb == "silent" || verb == "answer") {
        const auto meter = parseWhole(rest);
        return meter && responder.setSilenced(*meter, verb == "silent");
    }
    if (verb != "alarm")
        return false;
    const auto colon = rest.find(':');
    if (colon == std::string::npos)
        return false;
    const auto meter = parseWhole(rest.substr(0, colon));
    const std::string names = rest.substr(colon + 1);
    const auto bits = names == "none" ? std::optional(0u) : parseAlarmNames(names);
    return meter && bits && responder.setAlarms(*meter, *bits);
}

ControlFifo::~ControlFifo() {
    for (int fd : {readFd_, writeFd_})
        if (fd >= 0)
            ::close(fd);
    if (!path_.empty())
        ::unlink(path_.c_str());
}

std::string ControlFifo::open(const std::string& path) {
    // Only a FIFO an earlier run left is taken away; any other file at the path is kept.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode))
            return "not a FIFO, left as it is";
        ::unlink(path.c_str());
    }
    if (::mkfifo(path.c_str(), 0600) != 0)
        return std::strerror(errno);
    path_ = path;
    readFd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writeFd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (readFd_ < 0 || writeFd_ < 0)
        return std::strerror(errno);
    return {};
}

std::vector<std::string> ControlFifo::readLines() {
    char buf[512];
    ssize_t n = 0;
    while ((n = ::read(readFd_, buf, sizeof buf)) > 0)
        partial_.append(buf, static_cast<std::size_t>(n));
    std::vector<std::string> lines;
    std::size_t start = 0, end = 0;
    while ((end = partial_.find('\n', start)) != std::string::npos) {
        lines.push_back(partial_.substr(start, end - start));
        start = end + 1;
    }
    partial_.erase(0, start);
    return lines;
}

} // namespace mirv::sim
