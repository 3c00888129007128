#pragma once

#include "event_journal.h"

#include <optional>
#include <string>
#include <vector>

namespace mirv {

// The journal's rows as a CSV file's bytes, by the history export's CSV writer, under their
// captions: local time, UTC, meter (empty for the station), kind, phase, text, detail, user.
std::string eventsCsv(const std::vector<EventRow>& rows);

// The same as an XLSX workbook at `path`, the local time a date-time. The failure's
// description, if any.
std::optional<std::string> writeEventsXlsx(const std::string& path,
                                           const std::vector<EventRow>& rows);

} // namespace mirv
