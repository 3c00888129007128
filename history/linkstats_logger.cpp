#include "linkstats_logger.h"

#include "history_writer.h"
#include "line_stats.h"

namespace mirv {

void LinkstatsLogger::check(const std::string& localNow) {
    const std::string hour = localNow.substr(0, 13) + ":00:00";
    if (hour_.empty()) {
        hour_ = hour;
        return;
    }
    if (hour == hour_)
        return;
    std::vector<LinkstatsRow> rows;
    for (const HourTally& t : stats_.takeHour())
        rows.push_back({hour_, t});
    hour_ = hour;
    if (!rows.empty())
        writer_.writeLinkstats(std::move(rows));
}

} // namespace mirv
