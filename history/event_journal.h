#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mirv {

class Database;

// One entry of the station's event journal (the Events table): what happened, when, to which
// meter (0 for the station itself), and for alarms where it stands.
struct EventRow {
    std::string localTime; // 'YYYY-MM-DD HH:MM:SS', as Historydata's CreateTime
    std::string utcTime;   // 'YYYY-MM-DDTHH:MM:SSZ'
    int meter = 0;
    std::string kind;  // silent, alarm-excite, ..., port, gateway, database, station, settings, ...
    std::string phase; // begin, end, repeat, ack or note
    std::string text;  // what the operator reads
    std::string detail;
    std::string user; // who acknowledged or saved; empty for what the station saw itself
    bool operator==(const EventRow&) const = default;
};

// Where one alarm stands (the Alarms table): one row per meter and kind that is not normal, so
// that an acknowledgement outlives a restart.
struct AlarmRow {
    int meter = 0;
    std::string kind;
    std::string state; // active-unacknowledged, active-acknowledged, returned-unacknowledged
    int repeats = 0;   // how often it came back before anyone acknowledged it
    std::string began; // local time it first became active
    std::string changed;
    std::string ackUser;
    std::string ackTime;
    bool operator==(const AlarmRow&) const = default;
};

// The journal's tables; the writer makes sure of them before it writes, so a database made by
// an older build gets them with its first event.
extern const char* const kEventTablesSql;

// In the connection's open transaction. False on failure (the database has the error).
bool insertEvents(Database& db, const std::vector<EventRow>& rows);
// An alarm whose state is "normal" is removed; any other replaces the stored one.
bool storeAlarms(Database& db, const std::vector<AlarmRow>& rows);

// The stored alarm states; none when the table is not there yet.
std::optional<std::string> readAlarms(Database& db, std::vector<AlarmRow>& rows);
// The events from `from` to `to` (local times, both included; an empty bound is open), of one
// meter or all (0), in the order they were written. The failure's description on error.
std::optional<std::string> readEvents(Database& db, const std::string& from, const std::string& to,
                                      int meter, std::vector<EventRow>& rows);

// The latest event of `kind`, when there is one.
std::optional<EventRow> lastEvent(Database& db, const std::string& kind);

} // namespace mirv
