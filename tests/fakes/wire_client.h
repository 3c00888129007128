#pragma once

#include "wire_frame.h"

#include <QJsonObject>
#include <chrono>
#include <cstring>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace mirv::test {

// A client of the service's socket on plain POSIX calls, blocking, so that a test can play a
// well-behaved window or a hostile one byte by byte.
class WireClient {
  public:
    explicit WireClient(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~WireClient() { ::close(fd_); }
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    bool connected() const { return connected_; }
    // False once the service closed its side.
    bool sendBytes(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    bool send(const QJsonObject& message) { return sendBytes(wire::encode(message).toStdString()); }

    // The next message of `type`, skipping others, within `timeout`.
    std::optional<QJsonObject> await(const QString& type, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            while (auto m = decoder_.next())
                if (m->value("type").toString() == type)
                    return m;
            if (!readSome(end))
                return std::nullopt;
        }
        return std::nullopt;
    }

    // Reads (and throws away) until the service closes the connection; whether it did.
    bool closedWithin(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[65536];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return true;
        }
        return false;
    }

    int fd() const { return fd_; }

  private:
    bool readSome(std::chrono::steady_clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<long long>(0, left.count()))) <= 0)
            return false;
        char buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        decoder_.feed(QByteArrayView(buf, n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    wire::Decoder decoder_;
};

} // namespace mirv::test
