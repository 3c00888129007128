#pragma once

#include "number_format.h"

#include <array>
#include <cstdint>
#include <string>

namespace mirv {

// The four totals whose use is counted, in the table's order.
enum class EnergyTotal { Heat, Cold, Forward, Reverse };
constexpr int kEnergyTotals = 4;

// One meter's records in a selection and what they used.
struct MeterEnergy {
    std::string meterId;   // MeterID as stored
    std::string firstTime; // CreateTime of the first and the last record, as stored
    std::string lastTime;
    std::int64_t records = 0;
    // Per EnergyTotal, in ten-thousandths: the sum of every rise between consecutive numeric
    // values of that total.
    std::array<Fixed, kEnergyTotals> uses{};
    std::int64_t longestGapSeconds = 0;
    // Records at which any total stood lower than its previous numeric value.
    std::int64_t stepBacks = 0;

    bool operator==(const MeterEnergy&) const = default;
};

} // namespace mirv
