#include "written_order.h"

#include "local_seconds.h"

#include <algorithm>

namespace mirv {

std::optional<std::int64_t> WrittenClock::next(std::string_view createTime) {
    const auto wall = LocalSeconds::wallOf(createTime);
    if (!wall)
        return std::nullopt;
    std::int64_t seconds = zone_ ? zone_->realOfWall(*wall) : *wall;
    if (last_ && seconds < *last_ && zone_)
        if (const auto later = zone_->laterRealOfWall(*wall))
            seconds = *later;
    last_ = last_ ? std::max(*last_, seconds) : seconds;
    return last_;
}

} // namespace mirv
