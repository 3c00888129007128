#pragma once

#include "trend_data.h"

#include <optional>

namespace mirv {

class Database;

// loadTrend() from the hourly summaries: each whole hour of the range that is summed up, not
// stale, and whose lines hold no break counts by its first, lowest, highest and last record
// (real records with their real times); the rest of the range is read from the rows. Nothing
// when the summaries cannot stand in for the rows here (not all summed up yet, a zone whose
// hours do not start on whole hours of UTC, times that go back): the caller reads the rows.
std::optional<TrendLoad> loadTrendFromHours(Database& conn, const HistorySelection& selection,
                                            const TrendQuantity& quantity,
                                            const std::atomic_bool* cancel);

// The gap threshold over records some of which stand for whole hours: twice the lower median
// spacing, where an hour of n spacings that are > 0 counts as n spacings of its mean.
struct WeightedSpacing {
    std::int64_t ms;
    std::int64_t count;
};
std::int64_t weightedGapThresholdMs(std::vector<WeightedSpacing> spacings);

} // namespace mirv
