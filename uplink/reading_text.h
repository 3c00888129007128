#pragma once

#include "key_value_file.h"

#include <optional>
#include <string_view>

namespace mirv {

// How the texts Historydata stores become central values.

// A reading as a numeric: the text without surrounding blanks when it is a decimal number
// (optional sign, digits with an optional point, an optional exponent of at most three
// digits), else nothing (NULL). Empty texts, "NaN", units and the like are not numbers.
std::optional<std::string_view> numericReading(std::string_view text);

// MeterID as a meter number: a whole number from 0 to 2147483647, blanks around it allowed.
std::optional<int> meterNumber(std::string_view text);

} // namespace mirv
