#include "event_journal.h"

#include "database.h"

namespace mirv {

const char* const kEventTablesSql =
    "CREATE TABLE IF NOT EXISTS Events (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
    "CreateTime TEXT NOT NULL, UtcTime TEXT NOT NULL, MeterID INTEGER NOT NULL, "
    "Kind TEXT NOT NULL, Phase TEXT NOT NULL, Text TEXT NOT NULL, Detail TEXT NOT NULL, "
    "User TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS Events_CreateTime ON Events (CreateTime);"
    "CREATE TABLE IF NOT EXISTS Alarms (MeterID INTEGER NOT NULL, Kind TEXT NOT NULL, "
    "State TEXT NOT NULL, Repeats INTEGER NOT NULL, Began TEXT NOT NULL, Changed TEXT NOT NULL, "
    "AckUser TEXT NOT NULL, AckTime TEXT NOT NULL, PRIMARY KEY (MeterID, Kind));";

namespace {

bool tableThere(Database& db, const char* name, std::optional<std::string>& failure) {
    Statement table(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    if (!table.ok()) {
        failure = db.error();
        return false;
    }
    table.bind(1, std::string_view(name));
    if (table.step())
        return true;
    if (table.failed())
        failure = db.error();
    return false;
}

} // namespace

bool insertEvents(Database& db, const std::vector<EventRow>& rows) {
    if (rows.empty())
        return true;
    if (!db.exec(kEventTablesSql))
        return false;
    Statement insert(db, "INSERT INTO Events (CreateTime, UtcTime, MeterID, Kind, Phase, Text, "
                         "Detail, User) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    if (!insert.ok())
        return false;
    for (const EventRow& r : rows) {
        insert.reset();
        insert.bind(1, r.localTime);
        insert.bind(2, r.utcTime);
        insert.bind(3, std::int64_t{r.meter});
        insert.bind(4, r.kind);
        insert.bind(5, r.phase);
        insert.bind(6, r.text);
        insert.bind(7, r.detail);
        insert.bind(8, r.user);
        insert.step();
        if (insert.failed())
            return false;
    }
    return true;
}

bool storeAlarms(Database& db, const std::vector<AlarmRow>& rows) {
    if (rows.empty())
        return true;
    if (!db.exec(kEventTablesSql))
        return false;
    Statement remove(db, "DELETE FROM Alarms WHERE MeterID = ?1 AND Kind = ?2");
    Statement store(db, "INSERT OR REPLACE INTO Alarms (MeterID, Kind, State, Repeats, Began, "
                        "Changed, AckUser, AckTime) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    if (!remove.ok() || !store.ok())
        return false;
    for (const AlarmRow& r : rows) {
        Statement& s = r.state == "normal" ? remove : store;
        s.reset();
        s.bind(1, std::int64_t{r.meter});
        s.bind(2, r.kind);
        if (&s == &store) {
            s.bind(3, r.state);
            s.bind(4, std::int64_t{r.repeats});
            s.bind(5, r.began);
            s.bind(6, r.changed);
            s.bind(7, r.ackUser);
            s.bind(8, r.ackTime);
        }
        s.step();
        if (s.failed())
            return false;
    }
    return true;
}

std::optional<std::string> readAlarms(Database& db, std::vector<AlarmRow>& rows) {
    std::optional<std::string> failure;
    if (!tableThere(db, "Alarms", failure))
        return failure;
    Statement select(db, "SELECT MeterID, Kind, State, Repeats, Began, Changed, AckUser, AckTime "
                         "FROM Alarms ORDER BY MeterID, Kind");
    if (!select.ok())
        return db.error();
    while (select.step())
        rows.push_back({static_cast<int>(select.integer(0)), select.text(1), select.text(2),
                        static_cast<int>(select.integer(3)), select.text(4), select.text(5),
                        select.text(6), select.text(7)});
    if (select.failed())
        return db.error();
    return std::nullopt;
}

std::optional<std::string> readEvents(Database& db, const std::string& from, const std::string& to,
                                      int meter, std::vector<EventRow>& rows) {
    std::optional<std::string> failure;
    if (!tableThere(db, "Events", failure))
        return failure;
    // The journal's own order is the order of writing (ID), whatever the clock did meanwhile.
    Statement select(db, "SELECT CreateTime, UtcTime, MeterID, Kind, Phase, Text, Detail, User "
                         "FROM Events WHERE (?1 = '' OR CreateTime >= ?1) AND "
                         "(?2 = '' OR CreateTime <= ?2) AND (?3 = 0 OR MeterID = ?3) ORDER BY ID");
    if (!select.ok())
        return db.error();
    select.bind(1, from);
    select.bind(2, to);
    select.bind(3, std::int64_t{meter});
    while (select.step())
        rows.push_back({select.text(0), select.text(1), static_cast<int>(select.integer(2)),
                        select.text(3), select.text(4), select.text(5), select.text(6),
                        select.text(7)});
    if (select.failed())
        return db.error();
    return std::nullopt;
}

std::optional<EventRow> lastEvent(Database& db, const std::string& kind) {
    std::optional<std::string> failure;
    if (!tableThere(db, "Events", failure))
        return std::nullopt;
    Statement select(db, "SELECT CreateTime, UtcTime, MeterID, Kind, Phase, Text, Detail, User "
                         "FROM Events WHERE Kind = ?1 ORDER BY ID DESC LIMIT 1");
    select.bind(1, kind);
    if (!select.step())
        return std::nullopt;
    return EventRow{select.text(0), select.text(1), static_cast<int>(select.integer(2)),
                    select.text(3), select.text(4), select.text(5),
                    select.text(6), select.text(7)};
}

} // namespace mirv
