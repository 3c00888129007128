#include "web_sessions.h"

#include <sodium.h>

namespace mirv {

bool WebSessions::expired(const Session& s, Clock::time_point now) const {
    return now - s.last > kIdle || now - s.opened > kLongest;
}

std::string WebSessions::open(const std::string& user, Clock::time_point now) {
    unsigned char random[32];
    if (sodium_init() < 0)
        return {};
    randombytes_buf(random, sizeof random);
    char hex[sizeof random * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, random, sizeof random);
    std::lock_guard lock(mutex_);
    std::erase_if(sessions_, [&](const auto& s) { return expired(s.second, now); });
    // The oldest logins make room when too many browsers are logged in at once.
    while (sessions_.size() >= kMostSessions) {
        auto oldest = sessions_.begin();
        for (auto i = sessions_.begin(); i != sessions_.end(); ++i)
            if (i->second.opened < oldest->second.opened)
                oldest = i;
        sessions_.erase(oldest);
    }
    sessions_[hex] = {user, now, now};
    return hex;
}

std::optional<std::string> WebSessions::user(const std::string& token, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(token);
    if (found == sessions_.end())
        return std::nullopt;
    if (expired(found->second, now)) {
        sessions_.erase(found);
        return std::nullopt;
    }
    found->second.last = now;
    return found->second.user;
}

void WebSessions::close(const std::string& token) {
    std::lock_guard lock(mutex_);
    sessions_.erase(token);
}

} // namespace mirv
