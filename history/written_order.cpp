#include "written_order.h"

#include "local_seconds.h"

#include <algorithm>

namespace mirv {

std::optional<std::int64_t> WrittenClock::next(std::string_view createTime) {
    auto seconds = zone_ ? zone_->of(createTime) : LocalSeconds::wallOf(createTime);
    if (!seconds)
        return std::nullopt;
    if (last_ && *seconds < *last_ && zone_)
        if (const auto later = zone_->laterRealOfWall(*LocalSeconds::wallOf(createTime)))
            seconds = later;
    last_ = last_ ? std::max(*last_, *seconds) : *seconds;
    return last_;
}

} // namespace mirv
