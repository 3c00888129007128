#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// Reads a query bound as the operator typed it: a date "2024-01-05" or "2024/1/5", optionally
// followed by a time "8:30" or "08:30:15". Returns it in the stored form
// 'YYYY-MM-DD HH:MM:SS' (a date alone is midnight), or nothing when it is no such date.
std::optional<std::string> parseDateTimeText(std::string_view text);

// Whether the day exists in the proleptic Gregorian calendar, from year 1 on: the one date check
// of the query, the energy and trend passes and the report's cells.
bool isCivilDate(int year, int month, int day);

} // namespace mirv
