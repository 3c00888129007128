#pragma once

#include "meter_energy.h"
#include "pass_status.h"
#include "query_criteria.h"

#include <atomic>
#include <string>
#include <vector>

namespace mirv {

struct EnergyUse {
    PassStatus status = PassStatus::Done;
    std::string error;               // why it failed
    std::vector<MeterEnergy> meters; // in numeric meter order
};

// Energy use per meter over a selection: the query tab's meter rule and bounds (both included;
// the step is not used). Reads the history in one pass ordered by CreateTime, ID on its own
// connection. Setting `*cancel` stops the pass soon; the result is then Cancelled with no meters.
EnergyUse computeEnergyUse(const std::string& databasePath, const HistorySelection& selection,
                           const ProgressCallback& onProgress = {},
                           const std::atomic_bool* cancel = nullptr);

} // namespace mirv
