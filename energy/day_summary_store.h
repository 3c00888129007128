#pragma once

#include "day_summary.h"
#include "hour_summary.h"

#include <atomic>
#include <map>
#include <optional>
#include <string>

namespace mirv {

class Database;
class Statement;

// The daily summaries live in Historyday beside Historydata. A logging pass folds its rows in
// (addNewRowsToDaySummaries, in the pass's own transaction); rows deleted or edited mark their
// day stale through triggers; a database that had no summaries is summed up in the background
// (buildDaySummaries). Readers use a day's summary only while it is not stale.

// The columns a summary is read from, in order; readDaySummary() reads them from `first` on.
inline constexpr const char* kDaySummaryColumns =
    "Records, FirstTime, LastTime, FirstWall, LastWall, LongestGap, StepBacks, Totals, FirstID, "
    "LastID";
std::optional<DaySummary> readDaySummary(const Statement& row, int first);

// Beside each day's summary, one per hour of the day's records in Historyhour (kept, built,
// marked stale and summed up again together with the day's).
inline constexpr const char* kHourSummaryColumns =
    "Records, FirstWall, LastWall, Steps, LongestStep, Lines, FirstID, LastID";
std::optional<HourSummary> readHourSummary(const Statement& row, int first,
                                           std::uint32_t columns = ~0u);

// Sums up one meter's records of one day from the rows, in written order, and its
// hours into `hours` when given; nothing when the rows could not be read. `realTime` as for
// DaySummarizer.
std::optional<DaySummary> summarizeDayRows(Database& db, const std::string& day,
                                           const std::string& meter,
                                           LocalSeconds* realTime = nullptr,
                                           std::map<std::string, HourSummarizer>* hours = nullptr);

// The text just past every text that starts with `prefix`; nothing when there is none.
std::optional<std::string> prefixEnd(std::string prefix);

// Folds the rows added since the summaries last saw them into their days, after the rows
// there (they were written after them). Runs inside the caller's write
// transaction; on a failure the summaries stay as they were (false), the rows are kept, and
// the next call or a reader picks the rows up. Quietly does nothing on a database without
// summaries.
bool addNewRowsToDaySummaries(Database& db);

// Sums up the days a database made before the summaries has not summed up yet, and then the
// stale ones, a short transaction at a time (the days of about `rowsPerStep` rows, some 50 ms
// of holding the lock), so logging goes on meanwhile. Setting `cancel` stops it after the
// transaction under way; it goes on from there next time.
std::optional<std::string> buildDaySummaries(const std::string& path,
                                             const std::atomic<bool>* cancel = nullptr,
                                             int busyTimeoutMs = 1000, int rowsPerStep = 20000);

} // namespace mirv
