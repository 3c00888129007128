#pragma once

#include <string_view>

namespace mirv {

// The numeric value of the number a text starts with, after leading blanks: "2.5x" gives 2.5,
// "12 min" gives 12, and a text that does not start with a number gives 0.
double leadingNumber(std::string_view text);

} // namespace mirv
