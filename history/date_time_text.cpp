#include "date_time_text.h"

#include <cctype>
#include <vector>

namespace mirv {

namespace {

// Reads 1..maxDigits digits at `pos`.
std::optional<int> number(std::string_view s, std::size_t& pos, std::size_t maxDigits) {
    std::size_t start = pos;
    int v = 0;
    while (pos < s.size() && pos - start < maxDigits &&
           std::isdigit(static_cast<unsigned char>(s[pos])))
        v = v * 10 + (s[pos++] - '0');
    if (pos == start || (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))))
        return std::nullopt;
    return v;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

bool isCivilDate(int year, int month, int day) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1)
        return false;
    return day <= (month == 2 && leapYear(year) ? 29 : days[month - 1]);
}

std::optional<std::string> parseDateTimeText(std::string_view s) {
    std::size_t pos = 0;
    const std::size_t yearStart = pos;
    const auto year = number(s, pos, 4);
    if (!year || pos - yearStart != 4 || pos >= s.size() || (s[pos] != '-' && s[pos] != '/'))
        return std::nullopt;
    const char sep = s[pos++];
    const auto month = number(s, pos, 2);
    if (!month || pos >= s.size() || s[pos] != sep)
        return std::nullopt;
    ++pos;
    const auto day = number(s, pos, 2);
    if (!day || !isCivilDate(*year, *month, *day))
        return std::nullopt;
    int hour = 0, minute = 0, second = 0;
    if (pos < s.size()) {
        if (s[pos] != ' ')
            return std::nullopt;
        while (pos < s.size() && s[pos] == ' ')
            ++pos;
        const auto h = number(s, pos, 2);
        if (!h || pos >= s.size() || s[pos] != ':')
            return std::nullopt;
        ++pos;
        const auto m = number(s, pos, 2);
        if (!m)
            return std::nullopt;
        std::optional<int> sec = 0;
        if (pos < s.size() && s[pos] == ':') {
            ++pos;
            sec = number(s, pos, 2);
        }
        if (!sec || pos != s.size() || *h > 23 || *m > 59 || *sec > 59)
            return std::nullopt;
        hour = *h;
        minute = *m;
        second = *sec;
    }
    // Written digit by digit: called for every row a reader takes, where a formatted print
    // was the larger part of the cost. Each field is within its width, checked above.
    std::string out = "0000-00-00 00:00:00";
    const auto put = [&out](std::size_t end, int value) {
        for (std::size_t at = end; value > 0; value /= 10)
            out[--at] = static_cast<char>('0' + value % 10);
    };
    put(4, *year);
    put(7, *month);
    put(10, *day);
    put(13, hour);
    put(16, minute);
    put(19, second);
    return out;
}

} // namespace mirv
