// The login's guards: failed logins slow an address down, sessions end.
#include "login_limit.h"
#include "web_sessions.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

using namespace std::chrono_literals;

TEST(LoginLimit, AnAddressWaitsLongerWithEachFailureBeyondTheFreeOnes) {
    LoginLimit limit;
    const auto t0 = LoginLimit::Clock::time_point{} + 10h;
    // Waits after the 1st..8th failure in a row, a second apart.
    const std::chrono::seconds waits[] = {0s, 0s, 0s, 0s, 60s, 120s, 240s, 480s};
    for (int i = 0; i < 8; ++i) {
        limit.failed("10.0.0.1", t0 + i * 1s);
        EXPECT_EQ(limit.waitFor("10.0.0.1", t0 + i * 1s), waits[i]) << "failure " << i + 1;
    }
    EXPECT_EQ(limit.waitFor("10.0.0.2", t0 + 8s), 0s) << "another address is not held";
    EXPECT_EQ(limit.waitFor("10.0.0.1", t0 + 7s + 480s), 0s) << "the wait ends";
    limit.succeeded("10.0.0.1");
    limit.failed("10.0.0.1", t0 + 1000s);
    EXPECT_EQ(limit.waitFor("10.0.0.1", t0 + 1000s), 0s) << "a login that worked clears";
}

TEST(LoginLimit, TheLongestWaitIsAQuarterOfAnHour) {
    LoginLimit limit;
    const auto t0 = LoginLimit::Clock::time_point{} + 10h;
    for (int i = 0; i < 30; ++i)
        limit.failed("a", t0);
    EXPECT_EQ(limit.waitFor("a", t0), 900s);
}

TEST(WebSessions, ASessionEndsWhenIdleOrOld) {
    WebSessions sessions;
    const auto t0 = WebSessions::Clock::time_point{} + 100h;
    const std::string token = sessions.open("anna", t0);
    ASSERT_EQ(token.size(), 64u);
    EXPECT_NE(sessions.open("anna", t0), token) << "each login its own token";
    EXPECT_EQ(sessions.user(token, t0 + 29min), "anna");
    EXPECT_FALSE(sessions.user("x" + token.substr(1), t0 + 29min));
    // Kept alive every 29 minutes, it still ends twelve hours after the login.
    auto t = t0 + 29min;
    while (t + 29min <= t0 + 12h) {
        t += 29min;
        EXPECT_TRUE(sessions.user(token, t));
    }
    EXPECT_FALSE(sessions.user(token, t0 + 12h + 1min));

    const std::string idle = sessions.open("ben", t0);
    EXPECT_FALSE(sessions.user(idle, t0 + 31min));
    const std::string closed = sessions.open("ben", t0);
    sessions.close(closed);
    EXPECT_FALSE(sessions.user(closed, t0));
}

} // namespace
} // namespace mirv
