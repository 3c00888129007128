#pragma once

#include "pass_status.h"
#include "query_criteria.h"
#include "trend_quantity.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace mirv {

// One meter's records of a quantity at full resolution.
struct TrendData {
    std::vector<std::int64_t> timesMs;      // each record's time, milliseconds since the epoch
    std::vector<std::vector<double>> lines; // a value per record for each line; NaN: no number
    // Consecutive records further apart than this are a gap in the line; 0: no gaps.
    std::int64_t gapMs = 0;
};

struct TrendLoad {
    PassStatus status = PassStatus::Done;
    std::string error;
    TrendData data;
};

// Reads the quantity's lines for the selection's one meter (allMeters is not looked at)
// between its bounds, both included, in one pass ordered by CreateTime, ID. Records whose
// CreateTime is no date are left out.
TrendLoad loadTrend(const std::string& databasePath, const HistorySelection& selection,
                    const TrendQuantity& quantity, const ProgressCallback& onProgress = {},
                    const std::atomic_bool* cancel = nullptr);

} // namespace mirv
