#pragma once

#include "meter_plan.h"

#include <cstdint>
#include <optional>
#include <string>

namespace mirv {

// One field of the settings row: its text, or nothing when it is NULL or missing; `whole` is
// its value when it is stored as a whole number.
struct SettingsField {
    std::optional<std::string> text;
    std::optional<std::int64_t> whole;
    std::string error; // why there is no value
};

// The first row of the settings table, as start-up reads it.
struct SettingsRow {
    std::string error;      // the connection or the query failed, or there is no row
    SettingsField timer;    // poll interval: milliseconds between two requests
    SettingsField minute;   // record interval: minutes between two logging passes
    SettingsField com;      // port number, 1 for ports/com1
    SettingsField Settings; // baud rate as text, "9600"; others give 9600
    SettingsField num;      // meters on the line, "1" to "20", polled at addresses 1 to num
};

// `readOnly` for a reader that never writes the file (the uplink): it opens it read-only.
SettingsRow readSettingsRow(const std::string& databasePath, bool readOnly = false);

// What Save writes into the first row; `com` stays as stored when empty. With `meters`, the
// Meters table is replaced by them in the same transaction (a board row without an entry is
// polled at its own number with the default profile).
struct SettingsUpdate {
    std::string timer, minute, Settings, num;
    std::optional<int> com;
    std::optional<std::vector<PlannedMeter>> meters;
};

// Writes the first row of the settings table (and only that row). Returns the failure's
// description, or nothing when the row was written.
std::optional<std::string> writeSettingsRow(const std::string& databasePath,
                                            const SettingsUpdate& update);

// The Meters table's entries as stored, by row, for the settings tab to show and edit; nothing
// when the table cannot be read now (a file without the table has no entries). It does not
// wait for a database another process holds.
std::optional<std::vector<PlannedMeter>> readMeterEntries(const std::string& databasePath);

} // namespace mirv
