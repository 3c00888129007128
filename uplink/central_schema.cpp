#include "central_schema.h"

#include "pg_result.h"

namespace mirv {

namespace {

// Version 1. station_history: one row per local Historydata row. The key is the station, the
// meter and the local CreateTime, plus time_repeat: how many earlier local rows of that meter
// carry the same CreateTime (0 but for a clock set back), so a reading is stored once however
// often it is sent. The key's index also serves "one meter of one station over a time range".
// Stations compare bytewise (COLLATE "C"), which keeps the key's comparisons cheap.
// station_uplink_progress: per station, the last local row forwarded and its fingerprint,
// written in the transaction that stores the rows.
constexpr const char* kVersion1 = R"sql(
CREATE TABLE station_history (
    station            text        COLLATE "C" NOT NULL,
    local_id           bigint      NOT NULL,
    meter_id           integer     NOT NULL,
    flow_rate          numeric,
    forward_total      numeric,
    reverse_total      numeric,
    inlet_temperature  numeric,
    outlet_temperature numeric,
    heat_power         numeric,
    cold_power         numeric,
    heat_total         numeric,
    cold_total         numeric,
    alarm_status       text,
    create_time        timestamp   NOT NULL,
    time_repeat        smallint    NOT NULL DEFAULT 0,
    received_at        timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, meter_id, create_time, time_repeat)
);
CREATE TABLE station_uplink_progress (
    station       text        COLLATE "C" PRIMARY KEY,
    last_local_id bigint      NOT NULL,
    last_row_hash bigint      NOT NULL,
    updated_at    timestamptz NOT NULL DEFAULT now()
);
)sql";

int appliedVersion(pg_conn* conn, std::string& error) {
    PgResult exists(conn, "SELECT to_regclass('station_history_migrations') IS NOT NULL");
    if (!exists.ok()) {
        error = exists.error();
        return -1;
    }
    if (exists.value(0, 0) != "t")
        return 0;
    PgResult version(conn, "SELECT coalesce(max(version), 0) FROM station_history_migrations");
    if (!version.ok()) {
        error = version.error();
        return -1;
    }
    return std::stoi(version.value(0, 0));
}

std::optional<std::string> applyPending(pg_conn* conn) {
    PgResult lock(conn, "SELECT pg_advisory_xact_lock(hashtextextended("
                        "'station_history migrations', 0))");
    if (!lock.ok())
        return lock.error();
    std::string error;
    const int applied = appliedVersion(conn, error);
    if (applied < 0)
        return error;
    const int newest = centralMigrations().back().version;
    if (applied > newest)
        return "the server's schema is version " + std::to_string(applied) +
               ", newer than this program knows (" + std::to_string(newest) + ")";
    if (applied == 0) {
        PgResult create(conn, "CREATE TABLE station_history_migrations ("
                              "version integer PRIMARY KEY, description text NOT NULL, "
                              "applied_at timestamptz NOT NULL DEFAULT now())");
        if (!create.ok())
            return create.error();
    }
    for (const CentralMigration& m : centralMigrations()) {
        if (m.version <= applied)
            continue;
        PgResult step(conn, m.sql);
        if (!step.ok())
            return "schema version " + std::to_string(m.version) + ": " + step.error();
        PgResult record(conn,
                        "INSERT INTO station_history_migrations (version, description) "
                        "VALUES ($1, $2)",
                        {std::to_string(m.version), m.description});
        if (!record.ok())
            return record.error();
    }
    return std::nullopt;
}

} // namespace

const std::vector<CentralMigration>& centralMigrations() {
    static const std::vector<CentralMigration> migrations{
        {1, "station_history and station_uplink_progress", kVersion1},
    };
    return migrations;
}

std::optional<std::string> migrateCentralSchema(pg_conn* conn) {
    PgResult begin(conn, "BEGIN");
    if (!begin.ok())
        return begin.error();
    auto error = applyPending(conn);
    PgResult end(conn, error ? "ROLLBACK" : "COMMIT");
    if (!error && !end.ok())
        error = end.error();
    return error;
}

} // namespace mirv
