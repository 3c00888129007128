#pragma once

#include "meter_energy.h"
#include "meter_names.h"
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
    MeterNames names;                // the meters' names when the pass was done
};

// Where whole days come from: the daily summaries where they serve, else the rows.
enum class EnergySource { DaySummaries, Rows };

// Energy use per meter over a selection: the query tab's meter rule and bounds (both included;
// the step is not used), as one pass over the records in written order would count it. Whole days
// come from their daily summaries where they serve, the rest from the rows, on its own connection
// in one read transaction. Setting `*cancel` stops the pass soon; the result is then Cancelled with
// no meters. The meters' names are read once, on the same connection.
EnergyUse computeEnergyUse(const std::string& databasePath, const HistorySelection& selection,
                           const ProgressCallback& onProgress = {},
                           const std::atomic_bool* cancel = nullptr,
                           EnergySource source = EnergySource::DaySummaries);

} // namespace mirv
