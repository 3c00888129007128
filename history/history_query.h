#pragma once

#include "history_rows.h"
#include "query_criteria.h"

#include <string>

namespace mirv {

class Database;

// Runs a selection over Historydata on `conn` and returns every matching row, ordered by
// CreateTime, then by ID. A failure gives no rows and no error.
HistoryRows selectHistory(const HistorySelection& selection, Database& conn);

// Opens its own connection to the database file and runs the selection.
HistoryRows queryHistory(const std::string& databasePath, const HistorySelection& selection);

} // namespace mirv
