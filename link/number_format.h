#pragma once

#include <string>

namespace mirv {

// Fixed-point totals count ten-thousandths; 128 bits hold every sum the register map can carry.
using Fixed = __int128;

// "0.00" / "0.0000" patterns: the exact value rounded half away from zero to `decimals`
// digits, at least one digit before the point, no grouping, a minus sign for negative values.
// A non-finite value gives the empty text.
std::string formatDecimal(float value, int decimals);
std::string formatFixed(Fixed tenThousandths, int decimals);

} // namespace mirv
