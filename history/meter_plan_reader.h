#pragma once

#include "meter_names.h"
#include "meter_plan.h"

#include <string>

namespace mirv {

// The Meters table as the schema and the upgrade make it.
extern const char* const kMetersTableSql;

// The one reader of the Meters table: for board rows 1..meterCount (at most 20), each row's
// entry, or the row's number and the default profile when it has none; a file without the
// table is read as an empty one. An entry whose address is 0 or above 247, or an address an
// earlier row has, is refused ("<file>: Meters row N: Address: ...") and its row not polled.
// A file that cannot be read gives today's plan with the failure as the one refusal.
MeterPlan readMeterPlan(const std::string& dbPath, int meterCount);

class Database;

// The names the Meters table gives the meters' addresses, read once for a whole query or
// export; an address two rows give keeps the first row's name. A table that cannot be read
// names no meter: the numbers then show alone.
MeterNames readMeterNames(Database& db);
MeterNames readMeterNames(const std::string& dbPath);
// The names by board row, as the journal knows its meters: its MeterID is the board row, which
// the Meters table may put at another address.
MeterNames readJournalMeterNames(Database& db);
MeterNames readJournalMeterNames(const std::string& dbPath);

} // namespace mirv
