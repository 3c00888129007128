#pragma once

#include "meter_profile.h"

#include <optional>
#include <string_view>

namespace mirv {

// The unit the board shows a cell's quantity in: m3/h, m/s, C, m3, kW or kWh.
std::string_view boardUnit(int cell);

// The factor from `unit` to the board's unit of `cell`; nothing when the unit does not measure
// that cell's quantity. "m3" may be written "m³", "C" "°C".
std::optional<UnitFactor> unitFactor(int cell, std::string_view unit);

} // namespace mirv
