#include "reading_text.h"

#include <charconv>

namespace mirv {

namespace {

constexpr std::size_t kMaxNumberLength = 400;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Advances `i` over digits; how many there were.
std::size_t skipDigits(std::string_view s, std::size_t& i) {
    const std::size_t start = i;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    return i - start;
}

} // namespace

std::optional<std::string_view> numericReading(std::string_view text) {
    const std::string_view s = trimBlanks(text);
    // Long enough for any reading; short enough that the server's numeric always takes it.
    if (s.empty() || s.size() > kMaxNumberLength)
        return std::nullopt;
    std::size_t i = 0;
    if (s[i] == '+' || s[i] == '-')
        ++i;
    std::size_t digits = skipDigits(s, i);
    if (i < s.size() && s[i] == '.') {
        ++i;
        digits += skipDigits(s, i);
    }
    if (digits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        const std::size_t exponentDigits = skipDigits(s, i);
        if (exponentDigits == 0 || exponentDigits > 3)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    return s;
}

std::optional<int> meterNumber(std::string_view text) {
    const std::string_view s = trimBlanks(text);
    int n = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || error != std::errc() || end != s.data() + s.size() || n < 0)
        return std::nullopt;
    return n;
}

} // namespace mirv
