#include "local_seconds.h"

#include "date_time_text.h"

#include <ctime>
#include <string>

namespace mirv {

namespace {

bool digitsAt(std::string_view s, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

int numberAt(std::string_view s, std::size_t at, std::size_t count) {
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i)
        v = v * 10 + (s[i] - '0');
    return v;
}

// The stored form exactly, as the logger writes it; anything else goes through the query's
// date parser first.
bool storedForm(std::string_view s) {
    return s.size() == 19 && digitsAt(s, 0, 4) && s[4] == '-' && digitsAt(s, 5, 2) && s[7] == '-' &&
           digitsAt(s, 8, 2) && s[10] == ' ' && digitsAt(s, 11, 2) && s[13] == ':' &&
           digitsAt(s, 14, 2) && s[16] == ':' && digitsAt(s, 17, 2);
}

} // namespace

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<std::int64_t> LocalSeconds::wallOf(std::string_view text) {
    std::string canonical;
    if (!storedForm(text)) {
        auto parsed = parseDateTimeText(text);
        if (!parsed)
            return std::nullopt;
        canonical = std::move(*parsed);
        text = canonical;
    }
    const int year = numberAt(text, 0, 4), month = numberAt(text, 5, 2), day = numberAt(text, 8, 2);
    const int hour = numberAt(text, 11, 2), minute = numberAt(text, 14, 2);
    const int second = numberAt(text, 17, 2);
    if (!isCivilDate(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return (daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 24 +
            hour) *
               3600 +
           minute * 60 + second;
}

std::int64_t LocalSeconds::offsetAtWall(std::int64_t wall) {
    const std::int64_t hour = wall >= 0 ? wall / 3600 : (wall - 3599) / 3600;
    return offsetAt(hour);
}

std::int64_t LocalSeconds::realOfWall(std::int64_t wall) {
    return wall - offsetAtWall(wall);
}

std::optional<std::int64_t> LocalSeconds::of(std::string_view text) {
    constexpr std::size_t kHourLength = 13; // 'YYYY-MM-DD HH'
    if (storedForm(text) && text.substr(0, kHourLength) == lastHourText_) {
        const int minute = numberAt(text, 14, 2), second = numberAt(text, 17, 2);
        if (minute <= 59 && second <= 59)
            return lastHourStart_ + minute * 60 + second;
    }
    const auto wall = wallOf(text);
    if (!wall)
        return std::nullopt;
    const std::int64_t hourStart = *wall - *wall % 3600 - (*wall % 3600 < 0 ? 3600 : 0);
    if (storedForm(text)) {
        lastHourText_ = text.substr(0, kHourLength);
        lastHourStart_ = hourStart - offsetAtWall(*wall);
    }
    return realOfWall(*wall);
}

namespace {

std::optional<std::int64_t> offsetOfReal(std::int64_t real) {
    const auto t = static_cast<std::time_t>(real);
    std::tm fields{};
    if (!localtime_r(&t, &fields))
        return std::nullopt;
    return fields.tm_gmtoff;
}

} // namespace

std::optional<std::int64_t> LocalSeconds::laterRealOfWall(std::int64_t wall) {
    const std::int64_t hour = wall >= 0 ? wall / 3600 : (wall - 3599) / 3600;
    const HourOffsets& offsets = offsetsAt(hour);
    if (offsets.other >= offsets.reading)
        return std::nullopt; // only a smaller offset later reads the same text again
    const std::int64_t later = wall - offsets.other;
    if (offsetOfReal(later) != offsets.other ||
        offsetOfReal(wall - offsets.reading) != offsets.reading)
        return std::nullopt;
    return later;
}

const LocalSeconds::HourOffsets& LocalSeconds::offsetsAt(std::int64_t wallHour) {
    if (const auto found = offsetByHour_.find(wallHour); found != offsetByHour_.end())
        return found->second;
    // The offset in force a day before, where the hour reads back with it (also the first of
    // two equal hours when the clocks go back), else the one a day after. mktime() alone would
    // pick either for such an hour depending on what it was asked before, so that two readers
    // could place the same text an hour apart. An hour the clocks skip reads as before the change.
    const std::int64_t wall = wallHour * 3600;
    const auto before = offsetOfReal(wall - 86400), after = offsetOfReal(wall + 86400);
    std::int64_t offset = before.value_or(0);
    if (before && after && offsetOfReal(wall - *before) != before &&
        offsetOfReal(wall - *after) == after)
        offset = *after;
    const std::int64_t other =
        offset == before.value_or(0) ? after.value_or(offset) : before.value_or(offset);
    return offsetByHour_.emplace(wallHour, HourOffsets{offset, other}).first->second;
}

} // namespace mirv
