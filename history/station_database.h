#pragma once

#include "database.h"

#include <memory>
#include <optional>
#include <string>

namespace mirv {

// Why a tool could not use the station's database, in one line for the operator.
struct DatabaseFailure {
    enum Kind { Missing, NotADatabase, Locked, Failed } kind = Failed;
    std::string message;
};

// A lock another program held past `busyTimeoutMs`.
DatabaseFailure lockedFailure(const std::string& path, int busyTimeoutMs);

// The last failure on `db` (a statement that did not run, a step that failed), described for
// the file at `path`; a lock that outlasted the busy timeout says how long it waited.
DatabaseFailure failureOf(const Database& db, const std::string& path, int busyTimeoutMs);

struct OpenedDatabase {
    std::unique_ptr<Database> db;           // set when the file is a station database
    std::optional<DatabaseFailure> failure; // otherwise why not
};

// Opens an existing station database for a tool: a file that is there, is an SQLite database
// and holds Historydata. Never creates one.
OpenedDatabase openStationDatabase(const std::string& path, int busyTimeoutMs);

} // namespace mirv
