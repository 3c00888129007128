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
    // Where hours were taken from their summaries only their first, lowest, highest and last
    // records are here: those after the first are marked in `joined` (empty: none), a line's
    // value is NaN where the record is another line's extreme, and the reduction must snap its
    // bucket edges to snapMs (0: not needed). See reduceTrend().
    std::vector<std::uint8_t> joined;
    std::int64_t snapMs = 0;
    std::int64_t records = 0; // in the range, also those the summaries stand for
};

struct TrendLoad {
    PassStatus status = PassStatus::Done;
    std::string error;
    TrendData data;
};

// Reads the quantity's lines for the selection's one meter (allMeters is not looked at)
// between its bounds, both included, in one pass in written order, each at its time as a
// WrittenClock reads it. Records whose CreateTime is no date are left out. When the range holds
// more hours than `pixels` (> 0), whole hours come from their summaries where they can (see
// loadTrendFromHours()): drawn on that many pixels or fewer, the reduction gives what it gives for
// every record under the same snapped bucket edges.
TrendLoad loadTrend(const std::string& databasePath, const HistorySelection& selection,
                    const TrendQuantity& quantity, const ProgressCallback& onProgress = {},
                    const std::atomic_bool* cancel = nullptr, int pixels = 0);

} // namespace mirv
