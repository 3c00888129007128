#include "meter_energy_tally.h"

#include "exact_decimal.h"

#include <algorithm>

namespace mirv {

void MeterEnergyTally::add(std::string_view createTime,
                           const std::array<std::string_view, kEnergyTotals>& totals) {
    if (result_.records++ == 0)
        result_.firstTime = createTime;
    result_.lastTime = createTime;
    const auto before = clock_.last();
    if (const auto seconds = clock_.next(createTime); seconds && before)
        result_.longestGapSeconds = std::max(result_.longestGapSeconds, *seconds - *before);
    bool wentDown = false;
    for (int t = 0; t < kEnergyTotals; ++t) {
        const auto value = tenThousandthsOf(totals[t]);
        if (!value)
            continue;
        if (last_[t]) {
            if (*value > *last_[t])
                result_.uses[t] += *value - *last_[t];
            else if (*value < *last_[t])
                wentDown = true;
        }
        last_[t] = value;
    }
    result_.stepBacks += wentDown;
}

} // namespace mirv
