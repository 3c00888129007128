// meter-sim: a Modbus-RTU slave simulating flow and energy meters on a serial line, and on a
// gateway's network side as RTU over TCP or Modbus TCP.
#include "control.h"
#include "line_speed.h"
#include "network_side.h"
#include "options.h"
#include "responder.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using namespace mirv::sim;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

// Where requests come from and answers go: the serial line, or one network side with at most
// one client at a time.
struct Endpoint {
    std::string name;
    int fd = -1;       // the line, or the network client
    int listenFd = -1; // a network side's listening socket
    RequestStream stream;
    std::vector<Chunk> queue;

    bool network() const { return listenFd >= 0; }
    void dropClient() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        stream.pending.clear();
        stream.broken = false;
        queue.clear();
    }
};

// Opens the serial side as asked; false after saying why on standard error.
bool openSerial(const Options& options, Endpoint& line, int& keepSlave) {
    if (!options.link.empty()) {
        char name[256] = {};
        if (openpty(&line.fd, &keepSlave, name, nullptr, nullptr) != 0) {
            std::perror("meter-sim: openpty");
            return false;
        }
        setRawLine(keepSlave, options.baud);
        std::error_code ec;
        std::filesystem::remove(options.link, ec);
        std::filesystem::create_symlink(name, options.link, ec);
        if (ec) {
            std::fprintf(stderr, "meter-sim: cannot link %s: %s\n", options.link.c_str(),
                         ec.message().c_str());
            return false;
        }
        std::fprintf(stderr, "meter-sim: serving on %s (linked as %s)\n", name,
                     options.link.c_str());
        return true;
    }
    line.fd = ::open(options.port.c_str(), O_RDWR | O_NOCTTY);
    if (line.fd < 0 || !setRawLine(line.fd, options.baud)) {
        std::fprintf(stderr, "meter-sim: cannot open %s: %s\n", options.port.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::fprintf(stderr, "meter-sim: serving on %s\n", options.port.c_str());
    return true;
}

bool openNetworkSide(const ListenAddress& address, bool modbusTcp,
                     std::vector<Endpoint>& endpoints) {
    Endpoint side;
    side.name = (modbusTcp ? "Modbus TCP on " : "RTU over TCP on ") + address.host + ":" +
                std::to_string(address.port);
    side.stream.modbusTcp = modbusTcp;
    std::string error;
    side.listenFd = listenOn(address, error);
    if (side.listenFd < 0) {
        std::fprintf(stderr, "meter-sim: cannot listen for %s: %s\n", side.name.c_str(),
                     error.c_str());
        return false;
    }
    std::fprintf(stderr, "meter-sim: serving %s\n", side.name.c_str());
    endpoints.push_back(std::move(side));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (!commandLine.help.empty()) {
        std::cout << commandLine.help;
        return 0;
    }
    if (!commandLine.options) {
        std::fprintf(stderr, "%s\n", commandLine.error.c_str());
        return 2;
    }
    const Options& options = *commandLine.options;

    std::vector<Endpoint> endpoints;
    int keepSlave = -1; // keeps the pseudo-terminal alive while no one has it open
    if (!options.link.empty() || !options.port.empty()) {
        endpoints.emplace_back().name = "serial line";
        if (!openSerial(options, endpoints.back(), keepSlave))
            return 1;
    }
    if (options.tcpListen && !openNetworkSide(*options.tcpListen, false, endpoints))
        return 1;
    if (options.modbusTcpListen && !openNetworkSide(*options.modbusTcpListen, true, endpoints))
        return 1;

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Responder responder(options);
    ControlFifo control;
    if (!options.control.empty()) {
        if (const std::string error = control.open(options.control); !error.empty()) {
            std::fprintf(stderr, "meter-sim: cannot make the control FIFO %s: %s\n",
                         options.control.c_str(), error.c_str());
            return 1;
        }
        std::fprintf(stderr, "meter-sim: taking control lines at %s\n", options.control.c_str());
    }
    const auto start = std::chrono::steady_clock::now();
    auto now = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };

    std::vector<pollfd> polled;
    while (!stopRequested) {
        int timeoutMs = 50;
        polled.clear();
        for (const Endpoint& e : endpoints) {
            for (const auto& c : e.queue)
                timeoutMs = std::min(timeoutMs,
                                     std::max(0, static_cast<int>((c.dueSeconds - now()) * 1000)));
            // A network side takes its next client only when the last one has left.
            polled.push_back({e.fd >= 0 ? e.fd : e.listenFd, POLLIN, 0});
        }
        if (control.fd() >= 0)
            polled.push_back({control.fd(), POLLIN, 0});
        const int ready = ::poll(polled.data(), polled.size(), timeoutMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (control.fd() >= 0 && polled.back().revents != 0)
            for (const std::string& line : control.readLines())
                if (!applyControlLine(line, responder))
                    std::fprintf(stderr, "meter-sim: control line not understood: %s\n",
                                 line.c_str());
        for (std::size_t i = 0; ready > 0 && i < endpoints.size(); ++i) {
            Endpoint& e = endpoints[i];
            const short events = polled[i].revents;
            if (events == 0)
                continue;
            if (e.fd < 0) {
                e.fd = acceptClient(e.listenFd);
                if (e.fd >= 0)
                    std::fprintf(stderr, "meter-sim: a client connected to %s\n", e.name.c_str());
                continue;
            }
            if (events & POLLIN) {
                std::uint8_t buf[512];
                const ssize_t n = ::read(e.fd, buf, sizeof buf);
                if (n > 0) {
                    auto chunks = responder.feed(
                        e.stream, std::span(buf, static_cast<std::size_t>(n)), now());
                    e.queue.insert(e.queue.end(), chunks.begin(), chunks.end());
                    if (e.stream.broken) {
                        std::fprintf(stderr, "meter-sim: not Modbus TCP, closing the client\n");
                        e.dropClient();
                    }
                } else if (e.network() && n <= 0 && errno != EINTR) {
                    e.dropClient();
                    std::fprintf(stderr, "meter-sim: the client left %s\n", e.name.c_str());
                }
            } else if (events & (POLLHUP | POLLERR)) {
                if (e.network())
                    e.dropClient();
                else
                    ::usleep(20000); // the far end closed; wait for it to come back
            }
        }
        const double t = now();
        for (Endpoint& e : endpoints) {
            for (auto it = e.queue.begin(); e.fd >= 0 && it != e.queue.end();) {
                if (it->dueSeconds > t) {
                    ++it;
                    continue;
                }
                writeAll(e.fd, it->bytes, e.network());
                if (it->hangUp && e.network()) {
                    std::fprintf(stderr, "meter-sim: hanging up on the client of %s\n",
                                 e.name.c_str());
                    e.dropClient();
                    break;
                }
                it = e.queue.erase(it);
            }
        }
    }

    if (!options.link.empty()) {
        std::error_code ec;
        std::filesystem::remove(options.link, ec);
    }
    for (Endpoint& e : endpoints) {
        e.dropClient();
        if (e.listenFd >= 0)
            ::close(e.listenFd);
    }
    if (keepSlave >= 0)
        ::close(keepSlave);
    return 0;
}
