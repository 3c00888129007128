#pragma once

#include "number_format.h"
#include "pass_status.h"
#include "query_criteria.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

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

struct EnergyUse {
    PassStatus status = PassStatus::Done;
    std::string error;               // why it failed
    std::vector<MeterEnergy> meters; // in numeric meter order
};

// Energy use per meter over the criteria's range: the query tab's meter rule and bounds (both
// included; the step is not used). Reads the history in one pass ordered by CreateTime, ID
// on its own connection. Setting `*cancel` stops the pass soon; the result is then Cancelled
// with no meters.
EnergyUse computeEnergyUse(const std::string& databasePath, const QueryCriteria& criteria,
                           const ProgressCallback& onProgress = {},
                           const std::atomic_bool* cancel = nullptr);

} // namespace mirv
