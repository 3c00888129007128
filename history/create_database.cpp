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

std::optional<std::string> upgradeDatabase(const std::string& path) {
    Database db(path, 10000);
    if (!db.isOpen())
        return db.error();
    if (!db.exec("PRAGMA journal_mode = WAL;"
                 "CREATE INDEX IF NOT EXISTS Historydata_CreateTime ON Historydata (CreateTime);"
                 "CREATE INDEX IF NOT EXISTS Historydata_MeterID_CreateTime "
                 "ON Historydata (MeterID, CreateTime);"))
        return db.error();
    return std::nullopt;
}

} // namespace mirv
