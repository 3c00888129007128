#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace mirv {

// The logged-in browsers: a random token (the session cookie) per login. A session ends half
// an hour after its last request, or twelve hours after the login whatever it did.
class WebSessions {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kIdle = std::chrono::minutes(30);
    static constexpr auto kLongest = std::chrono::hours(12);
    static constexpr std::size_t kMostSessions = 1000;

    // A new session's token (64 hex digits) for `user`.
    std::string open(const std::string& user, Clock::time_point now);
    // The user of a live session, which the request keeps alive; nothing when there is none.
    std::optional<std::string> user(const std::string& token, Clock::time_point now);
    void close(const std::string& token);

  private:
    struct Session {
        std::string user;
        Clock::time_point opened;
        Clock::time_point last;
    };
    bool expired(const Session& s, Clock::time_point now) const;
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
};

} // namespace mirv
