#include "central_store.h"

#include "central_schema.h"
#include "copy_text.h"
#include "pg_result.h"

#include <algorithm>
#include <libpq-fe.h>

namespace mirv {

namespace {

constexpr const char* kStationLock =
    "SELECT pg_try_advisory_lock(hashtextextended('station_history uplink ' || $1, 0))";

// The batch's columns, in the order of its COPY lines.
constexpr const char* kBatchColumns =
    "(station, local_id, meter_id, flow_rate, forward_total, reverse_total, inlet_temperature, "
    "outlet_temperature, heat_power, cold_power, heat_total, cold_total, alarm_status, "
    "create_time, time_repeat)";

// Where a batch goes when some of its rows may be on the server already.
constexpr const char* kBatchTable =
    "CREATE TEMP TABLE uplink_batch (station text, local_id bigint, meter_id integer, "
    "flow_rate numeric, forward_total numeric, reverse_total numeric, inlet_temperature numeric, "
    "outlet_temperature numeric, heat_power numeric, cold_power numeric, heat_total numeric, "
    "cold_total numeric, alarm_status text, create_time timestamp, time_repeat smallint) "
    "ON COMMIT DELETE ROWS";

constexpr const char* kKeepNew =
    "INSERT INTO station_history (station, local_id, meter_id, flow_rate, forward_total, "
    "reverse_total, inlet_temperature, outlet_temperature, heat_power, cold_power, heat_total, "
    "cold_total, alarm_status, create_time, time_repeat) "
    "SELECT station, local_id, meter_id, flow_rate, forward_total, reverse_total, "
    "inlet_temperature, outlet_temperature, heat_power, cold_power, heat_total, cold_total, "
    "alarm_status, create_time, time_repeat FROM uplink_batch ORDER BY local_id "
    "ON CONFLICT DO NOTHING";

constexpr const char* kMoveMark =
    "INSERT INTO station_uplink_progress (station, last_local_id, last_row_hash) "
    "VALUES ($1, $2, $3) ON CONFLICT (station) DO UPDATE SET "
    "last_local_id = EXCLUDED.last_local_id, last_row_hash = EXCLUDED.last_row_hash, "
    "updated_at = now()";

// The server said no, as opposed to not being there or going away while starting or stopping.
bool refusedBy(const std::string& message) {
    return message.find("FATAL:") != std::string::npos &&
           message.find("the database system is") == std::string::npos;
}

} // namespace

CentralStore::CentralStore(std::string conninfo, std::string station)
    : conninfo_(std::move(conninfo)), station_(std::move(station)) {}

CentralStore::~CentralStore() {
    close();
}

void CentralStore::close() {
    PQfinish(conn_);
    conn_ = nullptr;
}

CentralFailure CentralStore::failureOf(std::string message) {
    if (PQstatus(conn_) == CONNECTION_BAD) {
        close();
        return {CentralFailure::Kind::Unreachable, std::move(message)};
    }
    PgResult rollback(conn_, "ROLLBACK");
    return {CentralFailure::Kind::Rejected, std::move(message)};
}

std::optional<CentralFailure> CentralStore::open() {
    close();
    // The conninfo decides everything it names; a dead peer is noticed within half a minute.
    const char* keys[] = {"connect_timeout",  "keepalives_idle",  "keepalives_interval",
                          "keepalives_count", "tcp_user_timeout", "fallback_application_name",
                          "dbname",           "client_encoding",  nullptr};
    const char* values[] = {"10",   "10",   "5", "3", "30000", "mirv-uplink", conninfo_.c_str(),
                            "UTF8", nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        std::string message = oneLine(PQerrorMessage(conn_));
        const bool refused = PQconnectionNeedsPassword(conn_) || refusedBy(message);
        close();
        return CentralFailure{refused ? CentralFailure::Kind::Refused
                                      : CentralFailure::Kind::Unreachable,
                              std::move(message)};
    }
    serverName_ = std::string(PQhost(conn_)) + ":" + PQport(conn_) + "/" + PQdb(conn_);
    if (auto failure = prepare()) {
        close();
        return failure;
    }
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::prepare() {
    if (auto error = migrateCentralSchema(conn_))
        return failureOf("central schema: " + *error);
    PgResult lock(conn_, kStationLock, {station_});
    if (!lock.ok())
        return failureOf(lock.error());
    if (lock.value(0, 0) != "t")
        return CentralFailure{CentralFailure::Kind::StationBusy,
                              "another uplink is forwarding station '" + station_ + "'"};
    PgResult table(conn_, kBatchTable);
    if (!table.ok())
        return failureOf(table.error());
    PgResult mark(conn_,
                  "SELECT last_local_id, last_row_hash FROM station_uplink_progress "
                  "WHERE station = $1",
                  {station_});
    if (!mark.ok())
        return failureOf(mark.error());
    mark_ = {};
    if (mark.rows() == 1)
        mark_ = {std::stoll(mark.value(0, 0)),
                 static_cast<std::uint64_t>(std::stoll(mark.value(0, 1)))};
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::copyRows(const char* into, const std::string& rows,
                                                     long long& copied, bool& duplicate) {
    PgResult start(conn_, (std::string("COPY ") + into + " FROM STDIN").c_str());
    if (PQresultStatus(start.get()) != PGRES_COPY_IN)
        return failureOf(start.error());
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t at = 0; at < rows.size(); at += kChunk) {
        const std::size_t size = std::min(kChunk, rows.size() - at);
        if (PQputCopyData(conn_, rows.data() + at, static_cast<int>(size)) != 1)
            return failureOf(oneLine(PQerrorMessage(conn_)));
    }
    if (PQputCopyEnd(conn_, nullptr) != 1)
        return failureOf(oneLine(PQerrorMessage(conn_)));
    std::optional<std::string> error;
    while (PGresult* r = PQgetResult(conn_)) {
        PgResult result(conn_, r);
        if (!error && !result.ok()) {
            error = result.error();
            duplicate = result.sqlState() == "23505";
        } else if (result.ok()) {
            copied = result.changed();
        }
    }
    if (error && !duplicate)
        return failureOf(*error);
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::storeRows(const std::string& rows, long long& added) {
    // Mostly every row is new: copied straight in. A row already there (after the local
    // history was restored or replaced) undoes that, and the batch goes through the temporary
    // table, leaving out what the server has.
    PgResult savepoint(conn_, "SAVEPOINT straight_in");
    if (!savepoint.ok())
        return failureOf(savepoint.error());
    bool duplicate = false;
    if (auto failure = copyRows((std::string("station_history ") + kBatchColumns).c_str(), rows,
                                added, duplicate))
        return failure;
    if (!duplicate)
        return std::nullopt;
    PgResult undo(conn_, "ROLLBACK TO SAVEPOINT straight_in");
    if (!undo.ok())
        return failureOf(undo.error());
    long long copied = 0;
    if (auto failure = copyRows("uplink_batch", rows, copied, duplicate))
        return failure;
    PgResult keep(conn_, kKeepNew);
    if (!keep.ok())
        return failureOf(keep.error());
    added = keep.changed();
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::store(const LocalBatch& batch) {
    if (!conn_)
        return CentralFailure{CentralFailure::Kind::Unreachable, "not connected"};
    lastAdded_ = 0;
    PgResult begin(conn_, "BEGIN");
    if (!begin.ok())
        return failureOf(begin.error());
    long long added = 0;
    if (!batch.copyRows.empty())
        if (auto failure = storeRows(withStation(batch.copyRows), added))
            return failure;
    PgResult move(conn_, kMoveMark,
                  {station_, std::to_string(batch.end.localId),
                   std::to_string(static_cast<std::int64_t>(batch.end.rowHash))});
    if (!move.ok())
        return failureOf(move.error());
    PgResult commit(conn_, "COMMIT");
    if (!commit.ok())
        return failureOf(commit.error());
    mark_ = batch.end;
    lastAdded_ = added;
    return std::nullopt;
}

std::string CentralStore::withStation(const std::string& rows) const {
    std::string prefix;
    appendCopyText(prefix, station_);
    prefix += '\t';
    std::string out;
    out.reserve(rows.size() + rows.size() / 100 * prefix.size());
    for (std::size_t at = 0; at < rows.size();) {
        const std::size_t end = rows.find('\n', at);
        const std::size_t next = end == std::string::npos ? rows.size() : end + 1;
        out += prefix;
        out.append(rows, at, next - at);
        at = next;
    }
    return out;
}

} // namespace mirv
