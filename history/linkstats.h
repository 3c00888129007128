#pragma once

#include "line_stats.h"

#include <optional>
#include <string>
#include <vector>

namespace mirv {

class Database;

// One row of Linkstats: a meter's polls over the hour that began at `hour`, local time
// 'YYYY-MM-DD HH:00:00'.
struct LinkstatsRow {
    std::string hour;
    HourTally tally;
};

// The table and its index; a database made by an older build gets them at start-up, and the
// writer makes sure of them before it writes.
extern const char* const kLinkstatsTableSql;

// Inserts the rows in the connection's open transaction; a row already there for the same
// meter and hour stays as it is. False on failure (the database has the error).
bool insertLinkstats(Database& db, const std::vector<LinkstatsRow>& rows);

// The rows of hours from `from` to `to` (both included) (stored form), of one meter or
// every meter (`meter` 0), by hour and meter; the failure's description on error.
std::optional<std::string> readLinkstats(Database& db, const std::string& from,
                                         const std::string& to, int meter,
                                         std::vector<LinkstatsRow>& rows);

} // namespace mirv
