#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <linux/filter.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mirv::test {

// A TCP relay of the test's own on 127.0.0.1, between a client and a server port, for making
// network faults: freeze() leaves the connections it has open at both ends but passes nothing
// more on them, telling neither side (as a power cut or a stalled link does): from then on its
// ends acknowledge nothing, not even a keepalive probe. Connections made afterwards pass as
// usual.
class TcpRelay {
  public:
    explicit TcpRelay(int serverPort) : serverPort_(serverPort) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            throw std::runtime_error("the relay cannot listen");
        port_ = ntohs(a.sin_port);
        if (::pipe2(wake_, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        thread_ = std::thread([this] { run(); });
    }
    ~TcpRelay() {
        running_ = false;
        wake();
        thread_.join();
        for (const Link& l : links_) {
            ::close(l.client);
            ::close(l.server);
        }
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return port_; }
    // Libpq's connection keys for reaching the server through the relay.
    std::string conninfo(const std::string& user = "postgres") const {
        return "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + user +
               " dbname=postgres";
    }

    void freeze() {
        std::lock_guard lock(mutex_);
        // A filter that drops every packet before TCP sees it, so the system acknowledges none.
        static sock_filter dropAll[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
        const sock_fprog program{1, dropAll};
        for (Link& l : links_) {
            l.frozen = true;
            for (int fd : {l.client, l.server})
                if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
                    throw std::runtime_error("the relay cannot silence a connection");
        }
        wake();
    }

  private:
    struct Link {
        int client;
        int server;
        bool frozen = false;
        bool closed = false;
    };

    void wake() { [[maybe_unused]] auto n = ::write(wake_[1], "x", 1); }

    void accept() {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(serverPort_));
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(client);
            ::close(server);
            return;
        }
        std::lock_guard lock(mutex_);
        links_.push_back({client, server});
    }

    // Passes what `from` has to `to`; false when `from` ended.
    static bool pass(int from, int to) {
        char buffer[65536];
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
            if (w <= 0)
                return false;
            done += w;
        }
        return true;
    }

    void run() {
        while (running_) {
            std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            std::vector<std::pair<std::size_t, bool>> owners; // link, from the client
            {
                std::lock_guard lock(mutex_);
                for (std::size_t i = 0; i < links_.size(); ++i) {
                    if (links_[i].frozen || links_[i].closed)
                        continue;
                    fds.push_back({links_[i].client, POLLIN, 0});
                    owners.emplace_back(i, true);
                    fds.push_back({links_[i].server, POLLIN, 0});
                    owners.emplace_back(i, false);
                }
            }
            if (::poll(fds.data(), fds.size(), 1000) <= 0)
                continue;
            if (fds[0].revents) {
                char drain[64];
                [[maybe_unused]] auto n = ::read(wake_[0], drain, sizeof drain);
            }
            if (fds[1].revents & POLLIN)
                accept();
            std::lock_guard lock(mutex_);
            for (std::size_t k = 2; k < fds.size(); ++k) {
                if (!fds[k].revents)
                    continue;
                Link& l = links_[owners[k - 2].first];
                if (l.frozen || l.closed)
                    continue;
                const bool fromClient = owners[k - 2].second;
                if (!pass(fromClient ? l.client : l.server, fromClient ? l.server : l.client)) {
                    // An end closed: so does the other, as a working network would.
                    ::shutdown(l.client, SHUT_RDWR);
                    ::shutdown(l.server, SHUT_RDWR);
                    l.closed = true;
                }
            }
        }
    }

    int serverPort_;
    int port_ = 0;
    int listener_ = -1;
    int wake_[2]{-1, -1};
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    std::vector<Link> links_;
    std::thread thread_;
};

} // namespace mirv::test
