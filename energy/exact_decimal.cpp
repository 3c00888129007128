#include "exact_decimal.h"

namespace mirv {

namespace {

constexpr int kMaxIntegerDigits = 30; // far below the 38 digits 128 bits hold, sums included
constexpr int kDecimals = 4;

// Counts in a 64-bit integer when the text is short enough for one (most are), since 128-bit
// arithmetic is slower.
template <typename Count> std::optional<Fixed> parse(std::string_view s) {
    const bool negative = s.starts_with('-');
    if (negative)
        s.remove_prefix(1);
    Count value = 0;
    int integerDigits = 0, decimals = 0;
    bool point = false;
    for (const char c : s) {
        if (c == '.' && !point && integerDigits > 0) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            if (point ? ++decimals > kDecimals : ++integerDigits > kMaxIntegerDigits)
                return std::nullopt;
            value = value * 10 + (c - '0');
        } else {
            return std::nullopt;
        }
    }
    if (integerDigits == 0 || (point && decimals == 0))
        return std::nullopt;
    for (; decimals < kDecimals; ++decimals)
        value *= 10;
    return negative ? -Fixed{value} : Fixed{value};
}

} // namespace

std::optional<Fixed> tenThousandthsOf(std::string_view s) {
    // 15 characters hold at most 15 digits, 19 with the decimals filled in: below 2^64.
    return s.size() <= 15 ? parse<std::uint64_t>(s) : parse<Fixed>(s);
}

} // namespace mirv
