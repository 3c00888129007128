#pragma once

#include "history_rows.h"
#include "query_criteria.h"

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirv {

class Database;
class Statement;

// The 13 column texts of one Historydata row in table order (ID .. CreateTime); valid only
// while the callback that receives it runs.
using HistoryRowView = std::array<std::string_view, HistoryRows::kColumns>;

// Runs a selection over Historydata on `conn` and hands every matching row, ordered by
// CreateTime, then by ID, to `onRow`, which returns false to stop early. Rows stream: nothing
// is kept. Returns false when the selection could not be run or failed part way.
bool streamHistory(Database& conn, const HistorySelection& selection,
                   const std::function<bool(const HistoryRowView&)>& onRow);

// The IDs of the selected rows in the same order, the first `atMost` of them; nothing when
// the selection failed.
std::optional<std::vector<std::int64_t>>
selectHistoryIds(Database& conn, const HistorySelection& selection,
                 std::size_t atMost = std::numeric_limits<std::size_t>::max());

// " FROM Historydata WHERE ..." for the rows of the selection's meter(s) between its bounds,
// whatever their minute, with parameters 1 .. 3 that bindSelectionRange() sets.
std::string selectionRange(const HistorySelection& selection);
void bindSelectionRange(Statement& query, const HistorySelection& selection);

// The statement that reads one row's 13 columns by its ID (parameter 1).
std::string historyRowSql();

// The whole selection in memory. A failure gives no rows and no error.
HistoryRows selectHistory(const HistorySelection& selection, Database& conn);

// Opens its own connection to the database file and runs the selection.
HistoryRows queryHistory(const std::string& databasePath, const HistorySelection& selection);

} // namespace mirv
