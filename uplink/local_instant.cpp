#include "local_instant.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

namespace mirv {

namespace {

bool readNumber(std::string_view text, std::size_t at, std::size_t digits, int& out) {
    const char* first = text.data() + at;
    const auto [end, ec] = std::from_chars(first, first + digits, out);
    return ec == std::errc() && end == first + digits;
}

bool sameWallTime(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

std::optional<std::int64_t> computeEpoch(std::string_view text, int repeat) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::tm wall{};
    if (!readNumber(text, 0, 4, wall.tm_year) || !readNumber(text, 5, 2, wall.tm_mon) ||
        !readNumber(text, 8, 2, wall.tm_mday) || !readNumber(text, 11, 2, wall.tm_hour) ||
        !readNumber(text, 14, 2, wall.tm_min) || !readNumber(text, 17, 2, wall.tm_sec))
        return std::nullopt;
    wall.tm_year -= 1900;
    wall.tm_mon -= 1;
    std::tm guess = wall;
    guess.tm_isdst = -1;
    const std::time_t near = std::mktime(&guess);
    if (near == static_cast<std::time_t>(-1))
        return std::nullopt;
    // Offsets change by half an hour, an hour or two: every instant showing this wall time
    // lies near.
    std::vector<std::time_t> matches;
    for (int minutes = -120; minutes <= 120; minutes += 30) {
        const std::time_t t = near + minutes * 60;
        std::tm shown{};
        if (localtime_r(&t, &shown) && sameWallTime(shown, wall))
            matches.push_back(t);
    }
    std::time_t instant = near;
    if (!matches.empty()) {
        std::sort(matches.begin(), matches.end());
        instant = matches[std::min<std::size_t>(static_cast<std::size_t>(std::max(repeat, 0)),
                                                matches.size() - 1)];
    } else {
        // Skipped by a change forward: the offset before it.
        std::tm before{};
        const std::time_t earlier = near - 6 * 3600;
        localtime_r(&earlier, &before);
        instant = timegm(&wall) - before.tm_gmtoff;
    }
    return static_cast<std::int64_t>(instant);
}

} // namespace

std::string utcText(std::int64_t epoch) {
    const auto instant = static_cast<std::time_t>(epoch);
    std::tm utc{};
    if (!gmtime_r(&instant, &utc))
        return {};
    // Years before 1 are written as the server reads them: year 0 is 1 BC.
    const long year = utc.tm_year + 1900L;
    char out[48];
    std::snprintf(out, sizeof out, "%04ld-%02d-%02d %02d:%02d:%02d+00%s",
                  year > 0 ? year : 1 - year, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, year > 0 ? "" : " BC");
    return out;
}

std::optional<std::int64_t> LocalInstants::epochOf(std::string_view localTime, int repeat) {
    if (repeat == lastRepeat_ && localTime == lastLocal_)
        return lastEpoch_;
    lastLocal_ = localTime;
    lastRepeat_ = repeat;
    lastEpoch_ = computeEpoch(localTime, repeat);
    return lastEpoch_;
}

std::optional<std::string> LocalInstants::utcOf(std::string_view localTime, int repeat) {
    const auto epoch = epochOf(localTime, repeat);
    if (!epoch)
        return std::nullopt;
    return utcText(*epoch);
}

std::string systemZoneName() {
    if (const char* tz = std::getenv("TZ"); tz && *tz)
        return *tz == ':' ? tz + 1 : tz;
    std::error_code ec;
    const auto target = std::filesystem::read_symlink("/etc/localtime", ec).string();
    if (const auto at = target.find("zoneinfo/"); !ec && at != std::string::npos)
        return target.substr(at + 9);
    std::ifstream file("/etc/timezone");
    std::string name;
    if (file >> name)
        return name;
    return "UTC";
}

} // namespace mirv
