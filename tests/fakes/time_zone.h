#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace mirv::test {

// Runs the rest of the scope, and programs it starts, in another time zone (TZ).
class TimeZone {
  public:
    explicit TimeZone(const char* zone) : old_(std::getenv("TZ") ? std::getenv("TZ") : "") {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (old_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", old_.c_str(), 1);
        tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

  private:
    std::string old_;
};

} // namespace mirv::test
