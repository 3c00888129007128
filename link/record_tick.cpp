#include "record_tick.h"

#include "leading_number.h"

#include <climits>

namespace mirv {

void RecordTick::minutePassed(const std::string& recordInterval) {
    if (minutes_ < INT_MAX)
        ++minutes_;
    const double interval = leadingNumber(recordInterval);
    if (interval <= 0 || minutes_ < interval)
        return;
    if (recordAll)
        recordAll();
    minutes_ = 0;
}

} // namespace mirv
