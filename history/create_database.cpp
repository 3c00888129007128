#include "create_database.h"

#include "database.h"

#include <filesystem>
#include <sqlite3.h>

namespace mirv {

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
                 "ON Historydata (CAST(substr(CreateTime, 15, 2) AS INTEGER), CreateTime);"))
        return db.error();
    return std::nullopt;
}

} // namespace mirv
