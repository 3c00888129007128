#include "station_database.h"

#include <cstdio>
#include <filesystem>
#include <sqlite3.h>

namespace mirv {

namespace {

std::string seconds(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
    return text;
}

} // namespace

DatabaseFailure lockedFailure(const std::string& path, int busyTimeoutMs) {
    return {DatabaseFailure::Locked, "the database " + path +
                                         " is locked by another program (gave up after " +
                                         seconds(busyTimeoutMs) + ")"};
}

DatabaseFailure failureOf(const Database& db, const std::string& path, int busyTimeoutMs) {
    const int code = db.handle() ? sqlite3_extended_errcode(db.handle()) & 0xff : SQLITE_ERROR;
    switch (code) {
    case SQLITE_NOTADB:
        return {DatabaseFailure::NotADatabase, path + " is not a database"};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return lockedFailure(path, busyTimeoutMs);
    default:
        return {DatabaseFailure::Failed, "database " + path + ": " + db.error()};
    }
}

OpenedDatabase openStationDatabase(const std::string& path, int busyTimeoutMs) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {nullptr, DatabaseFailure{DatabaseFailure::Missing, "no database at " + path}};
    auto db = std::make_unique<Database>(path, busyTimeoutMs);
    if (!db->isOpen())
        return {nullptr, DatabaseFailure{DatabaseFailure::Failed,
                                         "cannot open the database " + path + ": " + db->error()}};
    // Preparing reads the schema: this is where a file of another kind or a held lock shows.
    Statement probe(*db, "SELECT ID FROM Historydata LIMIT 0");
    if (probe.ok())
        return {std::move(db), std::nullopt};
    const int code = sqlite3_extended_errcode(db->handle()) & 0xff;
    if (code == SQLITE_ERROR) // it is a database, but one without the history table
        return {nullptr, DatabaseFailure{DatabaseFailure::NotADatabase,
                                         path + " is not the station's database (it has no "
                                                "Historydata table)"}};
    return {nullptr, failureOf(*db, path, busyTimeoutMs)};
}

} // namespace mirv
