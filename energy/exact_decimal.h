#pragma once

#include "number_format.h"

#include <optional>
#include <string_view>

namespace mirv {

// A stored reading as an exact count of ten-thousandths. A number is an optional minus sign
// and digits with at most one point inside: "1000.30", "-3.5", "7". Empty cells, texts,
// exponents, more than four decimals or more than 30 integer digits are no number.
std::optional<Fixed> tenThousandthsOf(std::string_view text);

} // namespace mirv
