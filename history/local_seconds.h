#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace mirv {

// Reads stored CreateTime texts (local time, 'YYYY-MM-DD HH:MM:SS') as seconds since the epoch,
// so that differences are real elapsed time also across a change of daylight saving time.
// The zone's offset is looked up once per hour of wall-clock time and kept.
class LocalSeconds {
  public:
    // Nothing when the text is no date and time the query's bounds would accept.
    std::optional<std::int64_t> of(std::string_view createTime);
    // The same text read as if it were UTC: no zone, so differences within a stretch of one
    // offset are the same as of()'s. Nothing exactly where of() gives nothing.
    static std::optional<std::int64_t> wallOf(std::string_view createTime);
    // of() for a time wallOf() read.
    std::int64_t realOfWall(std::int64_t wallSeconds);
    // The zone's offset (seconds east of UTC) at that wall-clock time.
    std::int64_t offsetAtWall(std::int64_t wallSeconds);
    // The second reading of a wall-clock time the clocks went back over (realOfWall() gives
    // the first); nothing when the time reads once.
    std::optional<std::int64_t> laterRealOfWall(std::int64_t wallSeconds);

  private:
    struct HourOffsets {
        std::int64_t reading; // the offset it is read with
        std::int64_t other;   // the offset in force a day later or earlier, when it differs
    };
    const HourOffsets& offsetsAt(std::int64_t wallHour);
    std::int64_t offsetAt(std::int64_t wallHour) { return offsetsAt(wallHour).reading; }

    std::unordered_map<std::int64_t, HourOffsets> offsetByHour_;
    // Records come in time order, so most share the hour of the one before: its text
    // 'YYYY-MM-DD HH' and its start in seconds since the epoch.
    std::string lastHourText_;
    std::int64_t lastHourStart_ = 0;
};

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);

} // namespace mirv
