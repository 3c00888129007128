#include "record_tick.h"

#include "leading_number.h"

#include <climits>

namespace mirv {

void RecordTick::Timer2_Timer(const std::string& recordInterval) {
    if (RecordTick_ < INT_MAX)
        ++RecordTick_;
    const double interval = leadingNumber(recordInterval);
    if (interval <= 0 || RecordTick_ < interval)
        return;
    if (recordAll)
        recordAll();
    RecordTick_ = 0;
}

} // namespace mirv
