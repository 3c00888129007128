// A window meeting a service of another protocol says so and does not attach.
#include "attached_feed.h"
#include "child_process.h"
#include "temp_dir.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace mirv {
namespace {

using namespace std::string_literals;

TEST(AttachedFeed, AServiceOfAnotherProtocolIsNamedAndNotAttached) {
    test::TempDir dir;
    const std::string path = dir.str() + "/mirv-station.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    test::ChildProcess service;
    service.startFunction([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        const std::string hello =
            "MIRV\x00\x00\x00\x30{\"type\":\"hello\",\"protocol\":99,\"version\":\"1.5.0\"}"s;
        (void)!::write(fd, hello.data(), hello.size());
        char sink[256];
        while (::read(fd, sink, sizeof sink) > 0) {
        }
    });
    ::close(listener);

    AttachedFeed feed(QString::fromStdString(path));
    EXPECT_EQ(feed.attach(std::chrono::seconds(5)), AttachedFeed::Attach::OtherVersion);
    EXPECT_EQ(feed.message(), QStringLiteral("窗口与后台服务版本不同(窗口") + MIRV_VERSION +
                                  QStringLiteral(",服务1.5.0),请使用同一版本"));
    EXPECT_FALSE(feed.live());
}

TEST(AttachedFeed, NoServiceWhenNothingListens) {
    test::TempDir dir;
    AttachedFeed feed(QString::fromStdString(dir.str() + "/mirv-station.sock"));
    EXPECT_EQ(feed.attach(std::chrono::seconds(1)), AttachedFeed::Attach::NoService);
}

} // namespace
} // namespace mirv
