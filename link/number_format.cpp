#include "number_format.h"

#include <cmath>
#include <cstdio>
#include <limits>
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

// The exact value of a float or double, |v| = m * 2^e, times 10^decimals, rounded half away
// from zero; nothing when that does not fit the 128-bit arithmetic here.
template <typename F> std::optional<unsigned __int128> scaledExactly(F magnitude, int decimals) {
    constexpr int kBits = std::numeric_limits<F>::digits; // 24 or 53
    if (decimals > 20)
        return std::nullopt;
    int e = 0;
    const F fraction = std::frexp(magnitude, &e); // magnitude = fraction * 2^e, 0.5 <= f < 1
    const auto m = static_cast<unsigned __int128>(std::ldexp(fraction, kBits)); // exact
    e -= kBits;
    unsigned __int128 p = m;
    for (int i = 0; i < decimals; ++i)
        p *= 10;
    if (e >= 0) {
        int width = 0;
        for (unsigned __int128 rest = p; rest != 0; rest >>= 1)
            ++width;
        return e <= 127 - width ? std::optional(p << e) : std::nullopt;
    }
    const int k = -e;
    if (k >= 127)
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

template <typename F> std::string formatBinary(F value, int decimals) {
    if (!std::isfinite(value))
        return {};
    if (const auto scaled = scaledExactly(std::fabs(value), decimals)) {
        const std::string body = withDecimals(*scaled, decimals);
        return value < 0 ? "-" + body : body;
    }
    // glibc prints the exact binary value when asked for enough digits: a double's expansion
    // ends within 1074 decimals, and its integer part has at most 309 digits.
    std::string buf(1500, '\0');
    const int n =
        std::snprintf(buf.data(), buf.size(), "%.1080f", std::fabs(static_cast<double>(value)));
    buf.resize(static_cast<std::size_t>(n));
    const std::string body = roundDigits(buf, decimals);
    return value < 0 ? "-" + body : body;
}

} // namespace

std::string formatDecimal(float value, int decimals) {
    return formatBinary(value, decimals);
}

std::string formatDecimal(double value, int decimals) {
    return formatBinary(value, decimals);
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

std::optional<std::string> formatExact(Fixed mantissa, int exp10, std::int64_t num,
                                       std::int64_t den, int decimals) {
    const bool negative = mantissa < 0;
    const unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(mantissa)
                                                 : static_cast<unsigned __int128>(mantissa);
    // |value| x 10^decimals = magnitude x num x 10^(exp10 + decimals) / den, as numer / denom.
    unsigned __int128 numer = 0, denom = static_cast<unsigned __int128>(den);
    if (__builtin_mul_overflow(magnitude, static_cast<unsigned __int128>(num), &numer))
        return std::nullopt;
    for (int i = exp10 + decimals; i > 0; --i)
        if (__builtin_mul_overflow(numer, static_cast<unsigned __int128>(10), &numer))
            return std::nullopt;
    for (int i = exp10 + decimals; i < 0; ++i)
        if (__builtin_mul_overflow(denom, static_cast<unsigned __int128>(10), &denom))
            return std::nullopt;
    const unsigned __int128 q = numer / denom, r = numer % denom;
    const unsigned __int128 rounded = q + (r >= denom - r ? 1 : 0);
    const std::string body = withDecimals(rounded, decimals);
    return negative ? "-" + body : body;
}

std::optional<Fixed> pairTotal(Fixed whole, float fraction) {
    // float x 10000 is exact in a double (24 + 14 bits), so the rounding sees the exact product.
    if (!std::isfinite(fraction))
        return std::nullopt;
    const double scaled = std::round(static_cast<double>(fraction) * 10000.0);
    if (std::fabs(scaled) >= 9.2e18)
        return std::nullopt;
    return whole * 10000 + static_cast<Fixed>(static_cast<long long>(scaled));
}

} // namespace mirv
