#pragma once

#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace mirv {

// One step of the central schema. Steps are applied in order, each once, and recorded with
// their version in station_history_migrations; a released step is never changed.
struct CentralMigration {
    int version;
    const char* description;
    const char* sql;
};

const std::vector<CentralMigration>& centralMigrations();

// Brings the server's schema up to the newest step this program knows, in one transaction
// under an advisory lock, so uplinks starting together apply each step once. Needs no right
// to create anything when the schema is current. Returns why it failed, also when the
// server's schema is newer than this program.
std::optional<std::string> migrateCentralSchema(pg_conn* conn);

} // namespace mirv
