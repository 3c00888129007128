#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// The UTC instant of a station's local time 'YYYY-MM-DD HH:MM:SS', in the process's time zone
// (TZ), as 'YYYY-MM-DD HH:MM:SS+00'. A local time that occurs twice (the hour repeated when
// summer time ends) is its earlier instant for `repeat` 0 and its later one for 1 and up; a
// local time that never occurs (the hour skipped when summer time begins) is read with the
// offset in force before the change. Nothing for a text that is no such time.
// Remembers the last answer: the rows of one logging pass share their time.
class LocalInstants {
  public:
    std::optional<std::string> utcOf(std::string_view localTime, int repeat);
    // The same instant in seconds since 1970-01-01 00:00 UTC.
    std::optional<std::int64_t> epochOf(std::string_view localTime, int repeat);

  private:
    std::string lastLocal_;
    int lastRepeat_ = -1;
    std::optional<std::int64_t> lastEpoch_;
};

// Seconds since 1970-01-01 00:00 UTC as 'YYYY-MM-DD HH:MM:SS+00' (with ' BC' before year 1).
std::string utcText(std::int64_t epoch);

// The name of the system's time zone (TZ, else the link /etc/localtime, else /etc/timezone),
// or "UTC" when none is set.
std::string systemZoneName();

} // namespace mirv
