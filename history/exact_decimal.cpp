#include "exact_decimal.h"

namespace mirv {

namespace {

constexpr int kMaxIntegerDigits = 30; // far below the 38 digits 128 bits hold, sums included
constexpr int kDecimals = 4;

} // namespace

std::optional<Fixed> tenThousandthsOf(std::string_view s) {
    const bool negative = s.starts_with('-');
    if (negative)
        s.remove_prefix(1);
    Fixed value = 0;
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
    return negative ? -value : value;
}

} // namespace mirv
