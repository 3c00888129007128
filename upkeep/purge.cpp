#include "purge.h"

#include "database.h"
#include "event_journal.h"
#include "local_time.h"

namespace mirv {

namespace {

// Deletes every row and, where there are daily summaries, those too. The trigger that marks
// a deleted row's day stale is set aside meanwhile: with it the rows would go one by one.
bool deleteAll(Database& db) {
    std::string trigger;
    {
        Statement q(db, "SELECT sql FROM sqlite_schema WHERE type = 'trigger' "
                        "AND name = 'Historyday_deleted'");
        if (q.step())
            trigger = q.text(0);
        else if (q.failed())
            return false;
    }
    if (trigger.empty())
        return db.exec("DELETE FROM Historydata");
    bool hours = false; // a file the station has not upgraded yet has days without hours
    {
        Statement q(db, "SELECT 1 FROM sqlite_schema WHERE name = 'Historyhour'");
        hours = q.step();
        if (q.failed())
            return false;
    }
    return db.exec("DROP TRIGGER Historyday_deleted; DELETE FROM Historydata; "
                   "DELETE FROM Historyday; DELETE FROM HistorydayStale") &&
           (!hours || db.exec("DELETE FROM Historyhour; DELETE FROM HistoryhourOpen")) &&
           db.exec(trigger);
}

// How many rows Historydata holds; -1 when it cannot be told.
long long historyRows(Database& db) {
    Statement q(db, "SELECT count(*) FROM Historydata");
    return q.step() ? q.integer(0) : -1;
}

} // namespace

PurgeResult purgeHistory(const std::string& databasePath, const std::string& user) {
    Database db(databasePath);
    if (!db.isOpen())
        return {};
    if (!db.exec("BEGIN IMMEDIATE"))
        return {true, db.error()};
    const long long rows = historyRows(db);
    const EventRow purged{localTimeNow(),
                          utcTimeNow(),
                          0,
                          "purge",
                          "note",
                          "历史数据已全部删除",
                          std::to_string(rows) + "行",
                          user};
    if (rows < 0 || !deleteAll(db) || !insertEvents(db, {purged}) || !db.exec("COMMIT")) {
        const std::string why = db.error();
        db.exec("ROLLBACK");
        return {true, why};
    }
    return {true, std::nullopt};
}

} // namespace mirv
