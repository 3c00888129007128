#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirv {

// Fixed-point totals count ten-thousandths; 128 bits hold every sum the register map can carry.
using Fixed = __int128;

// "0.00" / "0.0000" patterns: the exact value rounded half away from zero to `decimals`
// digits, at least one digit before the point, no grouping, a minus sign for negative values.
// A non-finite value gives the empty text.
std::string formatDecimal(float value, int decimals);
std::string formatDecimal(double value, int decimals);
std::string formatFixed(Fixed tenThousandths, int decimals);

// mantissa x 10^exp10 x num/den (num, den > 0) shown the same way; nothing when the value does not
// fit the 128-bit arithmetic here.
std::optional<std::string> formatExact(Fixed mantissa, int exp10, std::int64_t num,
                                       std::int64_t den, int decimals);

// An integer-plus-fraction total in ten-thousandths: the fraction rounded half away from zero to
// ten-thousandths first; nothing when the fraction is not finite or too large to count.
std::optional<Fixed> pairTotal(Fixed whole, float fraction);

} // namespace mirv
