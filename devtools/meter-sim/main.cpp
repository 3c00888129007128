// meter-sim: a Modbus-RTU slave simulating flow and energy meters on a serial line.
#include "line_speed.h"
#include "options.h"
#include "responder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using namespace mirv::sim;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    std::string error;
    const auto options = parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }

    int fd = -1;
    int keepSlave = -1; // keeps the pseudo-terminal alive while no one has it open
    if (!options->link.empty()) {
        char name[256] = {};
        if (openpty(&fd, &keepSlave, name, nullptr, nullptr) != 0) {
            std::perror("meter-sim: openpty");
            return 1;
        }
        setRawLine(keepSlave, options->baud);
        std::error_code ec;
        std::filesystem::remove(options->link, ec);
        std::filesystem::create_symlink(name, options->link, ec);
        if (ec) {
            std::fprintf(stderr, "meter-sim: cannot link %s: %s\n", options->link.c_str(),
                         ec.message().c_str());
            return 1;
        }
        std::fprintf(stderr, "meter-sim: serving on %s (linked as %s)\n", name,
                     options->link.c_str());
    } else {
        fd = ::open(options->port.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || !setRawLine(fd, options->baud)) {
            std::fprintf(stderr, "meter-sim: cannot open %s: %s\n", options->port.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::fprintf(stderr, "meter-sim: serving on %s\n", options->port.c_str());
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Responder responder(*options);
    std::vector<Chunk> queue;
    const auto start = std::chrono::steady_clock::now();
    auto now = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };

    while (!stopRequested) {
        int timeoutMs = 50;
        for (const auto& c : queue)
            timeoutMs =
                std::min(timeoutMs, std::max(0, static_cast<int>((c.dueSeconds - now()) * 1000)));
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (p.revents & POLLIN)) {
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                auto chunks = responder.feed(std::span(buf, static_cast<std::size_t>(n)), now());
                queue.insert(queue.end(), chunks.begin(), chunks.end());
            }
        } else if (ready > 0 && (p.revents & (POLLHUP | POLLERR))) {
            ::usleep(20000); // the far end closed; wait for it to come back
        }
        const double t = now();
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->dueSeconds <= t) {
                [[maybe_unused]] auto w = ::write(fd, it->bytes.data(), it->bytes.size());
                it = queue.erase(it);
            } else {
                ++it;
            }
        }
    }

    if (!options->link.empty()) {
        std::error_code ec;
        std::filesystem::remove(options->link, ec);
    }
    ::close(fd);
    if (keepSlave >= 0)
        ::close(keepSlave);
    return 0;
}
