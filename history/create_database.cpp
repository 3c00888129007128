#include "create_database.h"

#include "database.h"
#include "linkstats.h"
#include "meter_plan_reader.h"

#include <filesystem>
#include <sqlite3.h>

namespace mirv {

namespace {

// As at the end of the schema: the tables of the daily and hourly summaries, and the triggers that
// mark a day stale when its rows change otherwise than by being added.
constexpr const char* kDaySummaryTables = R"(
CREATE TABLE IF NOT EXISTS Historyday (
    Day TEXT NOT NULL,
    MeterID TEXT NOT NULL,
    Records INTEGER NOT NULL,
    FirstTime TEXT NOT NULL,
    LastTime TEXT NOT NULL,
    FirstWall INTEGER,
    LastWall INTEGER,
    LongestGap INTEGER NOT NULL,
    StepBacks INTEGER NOT NULL,
    Totals TEXT NOT NULL,
    FirstID INTEGER NOT NULL,
    LastID INTEGER NOT NULL,
    PRIMARY KEY (Day, MeterID)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS Historyhour (
    MeterID TEXT NOT NULL,
    Hour TEXT NOT NULL,
    Records INTEGER NOT NULL,
    FirstWall INTEGER NOT NULL,
    LastWall INTEGER NOT NULL,
    Steps INTEGER NOT NULL,
    LongestStep INTEGER NOT NULL,
    Lines TEXT NOT NULL,
    FirstID INTEGER NOT NULL,
    LastID INTEGER NOT NULL,
    PRIMARY KEY (MeterID, Hour)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS HistoryhourOpen (
    MeterID TEXT NOT NULL PRIMARY KEY,
    Hour TEXT NOT NULL
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS HistorydayStale (
    Day TEXT NOT NULL,
    MeterID TEXT NOT NULL,
    PRIMARY KEY (Day, MeterID)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS HistorydayProgress (Through TEXT, SeenID INTEGER NOT NULL);
INSERT INTO HistorydayProgress (Through, SeenID)
    SELECT CASE WHEN EXISTS (SELECT 1 FROM Historydata) THEN '' END,
           coalesce((SELECT max(ID) FROM Historydata), 0)
    WHERE NOT EXISTS (SELECT 1 FROM HistorydayProgress);
CREATE TRIGGER IF NOT EXISTS Historyday_deleted AFTER DELETE ON Historydata
    WHEN OLD.MeterID IS NOT NULL AND typeof(OLD.CreateTime) = 'text'
BEGIN
    INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
        VALUES (substr(OLD.CreateTime, 1, 10), CAST(OLD.MeterID AS TEXT));
END;
CREATE TRIGGER IF NOT EXISTS Historyday_updated
    AFTER UPDATE OF ID, MeterID, CreateTime, Foward, Reverse, TXTleijire_z, TXTleijileng_z,
        MinuteAverage, TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang
    ON Historydata
BEGIN
    INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
        SELECT substr(OLD.CreateTime, 1, 10), CAST(OLD.MeterID AS TEXT)
        WHERE OLD.MeterID IS NOT NULL AND typeof(OLD.CreateTime) = 'text';
    INSERT OR IGNORE INTO HistorydayStale (Day, MeterID)
        SELECT substr(NEW.CreateTime, 1, 10), CAST(NEW.MeterID AS TEXT)
        WHERE NEW.MeterID IS NOT NULL AND typeof(NEW.CreateTime) = 'text';
END;)";

// A file whose days were summed up before the hours were: every day is summed up again (the
// background build does it, readers use the rows meanwhile), and the trigger is made anew so
// that edits of the trend's columns mark their day stale too.
bool addHourSummaries(Database& db) {
    bool hours = false, days = false;
    {
        Statement q(db, "SELECT EXISTS (SELECT 1 FROM sqlite_schema WHERE name = 'Historyhour'), "
                        "EXISTS (SELECT 1 FROM sqlite_schema WHERE name = 'HistorydayProgress')");
        if (!q.step())
            return false;
        hours = q.integer(0) != 0;
        days = q.integer(1) != 0;
    }
    if (hours || !days)
        return true; // hours there already, or no summaries at all: the schema adds both
    return db.exec("DROP TRIGGER IF EXISTS Historyday_updated") &&
           db.exec("UPDATE HistorydayProgress SET Through = '' "
                   "WHERE EXISTS (SELECT 1 FROM Historydata)");
}

// A file whose summaries were taken in the order of the time texts rather than the order the
// rows were written, and know no row IDs: they are made anew and every day is summed up again
// (the background build does it, readers use the rows meanwhile).
bool sumUpInWrittenOrder(Database& db) {
    {
        Statement q(db, "SELECT EXISTS (SELECT 1 FROM sqlite_schema WHERE name = 'Historyday') "
                        "AND NOT EXISTS (SELECT 1 FROM pragma_table_info('Historyday') "
                        "WHERE name = 'FirstID')");
        if (!q.step())
            return false;
        if (q.integer(0) == 0)
            return true;
    }
    return db.exec("DROP TABLE Historyday; DROP TABLE IF EXISTS Historyhour;"
                   "DELETE FROM HistorydayStale; DELETE FROM HistoryhourOpen;") &&
           db.exec("UPDATE HistorydayProgress SET Through = '' "
                   "WHERE EXISTS (SELECT 1 FROM Historydata)");
}

} // namespace

std::optional<std::string> createDatabase(const std::string& path, const std::string& schemaSql) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return "File already exists: " + path;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        std::string e = db ? sqlite3_errmsg(db) : "cannot create " + path;
        sqlite3_close(db);
        return e;
    }
    char* message = nullptr;
    const int rc = sqlite3_exec(db, schemaSql.c_str(), nullptr, nullptr, &message);
    std::optional<std::string> error;
    if (rc != SQLITE_OK)
        error = message ? message : "schema failed";
    sqlite3_free(message);
    sqlite3_close(db);
    if (error)
        std::filesystem::remove(path, ec);
    return error;
}

std::optional<std::string> upgradeDatabase(const std::string& path, const std::atomic<bool>* cancel,
                                           int busyTimeoutMs) {
    Database db(path, busyTimeoutMs);
    if (!db.isOpen())
        return db.error();
    struct Waiting {
        const std::atomic<bool>* cancel;
        int timeoutMs;
    } waiting{cancel, busyTimeoutMs};
    if (cancel) {
        // Both a long index build and a wait for another connection end when cancelled.
        sqlite3_progress_handler(
            db.handle(), 10000,
            [](void* flag) { return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0; },
            const_cast<std::atomic<bool>*>(cancel));
        sqlite3_busy_handler(
            db.handle(),
            [](void* w, int tries) {
                const auto* wait = static_cast<Waiting*>(w);
                if (wait->cancel->load() || tries * 10 >= wait->timeoutMs)
                    return 0;
                sqlite3_sleep(10);
                return 1;
            },
            &waiting);
    }
    // A file that is not the station's database is left as it is, not even made WAL.
    {
        Statement tables(db, "SELECT count(*) FROM sqlite_schema WHERE type = 'table' "
                             "AND lower(name) IN ('mirve', 'historydata')");
        if (!tables.step() || tables.integer(0) != 2)
            return tables.failed() || !tables.ok() ? db.error()
                                                   : "not the station's database: " + path;
    }
    // WAL needs the file to itself; when another connection has it open, it is set next time.
    db.exec("PRAGMA journal_mode = WAL");
    if (!db.exec("CREATE INDEX IF NOT EXISTS Historydata_CreateTime ON Historydata (CreateTime);"
                 "CREATE INDEX IF NOT EXISTS Historydata_MeterID_CreateTime "
                 "ON Historydata (MeterID, CreateTime);"
                 "CREATE INDEX IF NOT EXISTS Historydata_Minute_CreateTime "
                 "ON Historydata (CAST(substr(CreateTime, 15, 2) AS INTEGER), CreateTime);") ||
        !db.exec(kLinkstatsTableSql) || !db.exec(kMetersTableSql))
        return db.error();
    // In one transaction, so that the progress row and the triggers come together.
    if (!db.exec("BEGIN IMMEDIATE"))
        return db.error();
    if (!addHourSummaries(db) || !db.exec(kDaySummaryTables) || !sumUpInWrittenOrder(db) ||
        !db.exec(kDaySummaryTables) || !db.exec("COMMIT")) {
        const std::string why = db.error();
        db.exec("ROLLBACK");
        return why;
    }
    return std::nullopt;
}

} // namespace mirv
