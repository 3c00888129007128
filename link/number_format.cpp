#include "number_format.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace mirv {

namespace {

// Rounds a plain digit string "123.456789" (no sign) to `decimals` places, half away from zero.
// The caller passes the complete expansion, so the first dropped digit decides alone.
std::string roundDigits(const std::string& digits, int decimals) {
    const std::size_t point = digits.find('.');
    std::string intPart = digits.substr(0, point);
    std::string frac = point == std::string::npos ? std::string() : digits.substr(point + 1);
    frac.resize(std::max<std::size_t>(frac.size(), decimals + 1), '0');
    const bool roundUp = frac[decimals] >= '5';
    std::string kept = intPart + frac.substr(0, decimals);
    if (roundUp) {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0 && kept[i] == '9')
            kept[i--] = '0';
        if (i >= 0)
            ++kept[i];
        else
            kept.insert(kept.begin(), '1');
    }
    const std::size_t intLen = kept.size() - decimals;
    std::string out = kept.substr(0, intLen);
    if (out.empty())
        out = "0";
    if (decimals > 0)
        out += "." + kept.substr(intLen);
    return out;
}

std::string toDigits(unsigned __int128 v) {
    if (v == 0)
        return "0";
    std::string s;
    while (v > 0) {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    }
    return s;
}

// The exact value of a float, |v| = m * 2^e, times 10^decimals, rounded half away from zero;
// nothing when that does not fit the arithmetic here (values beyond 2^100).
std::optional<unsigned __int128> scaledExactly(float magnitude, int decimals) {
    int e = 0;
    const float fraction = std::frexp(magnitude, &e); // magnitude = fraction * 2^e, 0.5 <= f < 1
    const auto m = static_cast<unsigned __int128>(std::ldexp(fraction, 24)); // exact: 24 bits
    e -= 24;
    unsigned __int128 p = m;
    for (int i = 0; i < decimals; ++i)
        p *= 10;
    if (e >= 0)
        return e <= 60 ? std::optional(p << e) : std::nullopt;
    const int k = -e;
    if (k >= 120)
        return 0; // far below half a unit of the last decimal
    const unsigned __int128 one = 1;
    const unsigned __int128 q = p >> k;
    const unsigned __int128 r = p - (q << k);
    return q + (r >= (one << (k - 1)) ? 1 : 0);
}

std::string withDecimals(unsigned __int128 n, int decimals) {
    std::string digits = toDigits(n);
    if (static_cast<int>(digits.size()) <= decimals)
        digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
    if (decimals > 0)
        digits.insert(digits.size() - static_cast<std::size_t>(decimals), ".");
    return digits;
}

} // namespace

std::string formatDecimal(float value, int decimals) {
    if (!std::isfinite(value))
        return {};
    if (const auto scaled = scaledExactly(std::fabs(value), decimals)) {
        const std::string body = withDecimals(*scaled, decimals);
        return value < 0 ? "-" + body : body;
    }
    // glibc prints the exact binary value when asked for enough digits: a float's expansion
    // ends within 149 decimals, and its integer part has at most 39 digits.
    char buf[200];
    std::snprintf(buf, sizeof buf, "%.150f", std::fabs(static_cast<double>(value)));
    const std::string body = roundDigits(buf, decimals);
    return value < 0 ? "-" + body : body;
}

std::string formatFixed(Fixed tenThousandths, int decimals) {
    const bool negative = tenThousandths < 0;
    const unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(tenThousandths)
                                                 : static_cast<unsigned __int128>(tenThousandths);
    std::string digits = toDigits(magnitude);
    if (digits.size() < 5)
        digits.insert(0, 5 - digits.size(), '0');
    digits.insert(digits.size() - 4, ".");
    const std::string body = roundDigits(digits, decimals);
    return negative ? "-" + body : body;
}

} // namespace mirv
