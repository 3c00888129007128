#pragma once

#include "meter_plan.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mirv {

// The longest texts of a meter the server keeps, in characters; longer ones are cut.
struct MeterTextBounds {
    static constexpr std::size_t profile = 64;
    static constexpr std::size_t name = 200;
};

// The station's meters as it polls them (the board rows its meter count names, each at its
// address with its profile and name), their texts cut and made fit for the server; nothing
// when the settings row or the Meters table cannot be read now.
std::optional<std::vector<PlannedMeter>> readStationMeters(const std::string& databasePath);

} // namespace mirv
