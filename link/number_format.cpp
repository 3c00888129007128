#include "number_format.h"

#include <cmath>
#include <cstdio>

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

} // namespace

std::string formatDecimal(float value, int decimals) {
    if (!std::isfinite(value))
        return {};
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
