#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mirv {

struct TrendPoint {
    std::int64_t timeMs;
    double value;
    bool operator==(const TrendPoint&) const = default;
};

// Points drawn as one connected line.
using TrendRun = std::vector<TrendPoint>;

// Twice the median spacing (the lower middle one of an even count) between consecutive records
// that are apart at all; 0 when there are no two such records.
std::int64_t gapThresholdMs(std::span<const std::int64_t> timesMs);

// What to draw of a line (times ascending, NaN for an empty cell) between fromMs and toMs on
// `buckets` horizontal pixels. The line breaks at empty cells and where consecutive records are
// more than gapMs apart (gapMs 0: never). Within each piece, every bucket keeps its first,
// lowest, highest and last point in time order, so every peak survives and the joins between
// buckets stay where they were. The nearest record outside the range on each side is kept so
// the line runs on to the edge.
//
// For records that stand for whole summed-up spans of time (see TrendData): a record marked in
// `joined` follows the one before within such a span, with no gap between them, and where its
// value is NaN it is not known there (skipped, no break). With snapMs > 0 the range is widened
// to whole multiples of snapMs and each record counts in the bucket of the multiple it lies in,
// so that no such span is split between buckets.
std::vector<TrendRun> reduceTrend(std::span<const std::int64_t> timesMs,
                                  std::span<const double> values, std::int64_t gapMs,
                                  std::int64_t fromMs, std::int64_t toMs, int buckets,
                                  std::span<const std::uint8_t> joined = {},
                                  std::int64_t snapMs = 0);

// The multiple of `step` (> 0) at or before t.
std::int64_t floorTo(std::int64_t t, std::int64_t step);

} // namespace mirv
