#include "trend_reduction.h"

#include <algorithm>
#include <cmath>

namespace mirv {

std::int64_t gapThresholdMs(std::span<const std::int64_t> timesMs) {
    std::vector<std::int64_t> spacings;
    for (std::size_t i = 1; i < timesMs.size(); ++i)
        if (timesMs[i] > timesMs[i - 1])
            spacings.push_back(timesMs[i] - timesMs[i - 1]);
    if (spacings.empty())
        return 0;
    const auto middle = spacings.begin() + static_cast<std::ptrdiff_t>((spacings.size() - 1) / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    return 2 * *middle;
}

namespace {

// Collects a line's runs, one bucket of one run at a time.
class Reducer {
  public:
    Reducer(std::span<const std::int64_t> times, std::span<const double> values)
        : times_(times), values_(values) {}

    void add(std::size_t i, std::int64_t bucket) {
        if (open_ && bucket == bucket_) {
            if (values_[i] < values_[low_])
                low_ = i;
            if (values_[i] > values_[high_])
                high_ = i;
            last_ = i;
            return;
        }
        closeBucket();
        open_ = true;
        bucket_ = bucket;
        first_ = low_ = high_ = last_ = i;
    }

    void breakLine() {
        closeBucket();
        if (!run_.empty())
            runs_.push_back(std::move(run_));
        run_.clear();
    }

    std::vector<TrendRun> finish() {
        breakLine();
        return std::move(runs_);
    }

  private:
    void closeBucket() {
        if (!open_)
            return;
        std::size_t kept[] = {first_, low_, high_, last_};
        std::sort(std::begin(kept), std::end(kept));
        const auto end = std::unique(std::begin(kept), std::end(kept));
        for (auto k = std::begin(kept); k != end; ++k)
            run_.push_back({times_[*k], values_[*k]});
        open_ = false;
    }

    std::span<const std::int64_t> times_;
    std::span<const double> values_;
    std::vector<TrendRun> runs_;
    TrendRun run_;
    bool open_ = false;
    std::int64_t bucket_ = 0;
    std::size_t first_ = 0, low_ = 0, high_ = 0, last_ = 0;
};

} // namespace

std::int64_t floorTo(std::int64_t t, std::int64_t step) {
    const std::int64_t r = t % step;
    return t - (r < 0 ? r + step : r);
}

std::vector<TrendRun> reduceTrend(std::span<const std::int64_t> times,
                                  std::span<const double> values, std::int64_t gapMs,
                                  std::int64_t fromMs, std::int64_t toMs, int buckets,
                                  std::span<const std::uint8_t> joined, std::int64_t snapMs) {
    if (times.empty() || times.size() != values.size() || buckets <= 0 || toMs < fromMs ||
        (!joined.empty() && joined.size() != times.size()))
        return {};
    if (snapMs > 0) {
        fromMs = floorTo(fromMs, snapMs);
        toMs = floorTo(toMs, snapMs) + snapMs - 1;
    }
    auto begin = static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), fromMs) -
                                          times.begin());
    auto end = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), toMs) -
                                        times.begin());
    begin -= begin > 0;
    end += end < times.size();
    const __int128 span = std::max<std::int64_t>(1, toMs - fromMs);
    auto bucketOf = [&](std::int64_t t) -> std::int64_t {
        if (snapMs > 0)
            t = floorTo(t, snapMs);
        if (t < fromMs)
            return -1;
        if (t > toMs)
            return buckets;
        return std::min<std::int64_t>(
            buckets - 1, static_cast<std::int64_t>((t - fromMs) * __int128{buckets} / span));
    };
    Reducer reducer(times, values);
    for (std::size_t i = begin; i < end; ++i) {
        const bool join = !joined.empty() && joined[i];
        if (join && std::isnan(values[i]))
            continue;
        if (i > begin && !join && gapMs > 0 && times[i] - times[i - 1] > gapMs)
            reducer.breakLine();
        if (std::isnan(values[i])) {
            reducer.breakLine();
            continue;
        }
        reducer.add(i, bucketOf(times[i]));
    }
    return reducer.finish();
}

} // namespace mirv
