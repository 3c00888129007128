#include "central_store.h"

#include "central_schema.h"
#include "copy_text.h"
#include "local_instant.h"
#include "pg_result.h"
#include "refused_rows.h"

#include <algorithm>
#include <charconv>
#include <libpq-fe.h>

namespace mirv {

namespace {

using Clock = std::chrono::steady_clock;

// Each batch's transaction: no wait for a lock longer than the call limit, and the server
// gives up on a transaction whose PC went away (a power cut, a cable pulled) within about half
// a minute: keepalives answered or not, data acknowledged or not, the transaction left open.
// All of it ends with the transaction. The commit does not wait for the disk: a commit the
// server loses in a crash loses the station's mark with the rows, so that they are sent again.
constexpr const char* kBeginBatch =
    "BEGIN; SET LOCAL lock_timeout = '30s'; SET LOCAL idle_in_transaction_session_timeout = '20s'; "
    "SET LOCAL tcp_keepalives_idle = 10; SET LOCAL tcp_keepalives_interval = 5; "
    "SET LOCAL tcp_keepalives_count = 3; SET LOCAL tcp_user_timeout = 30000; "
    "SET LOCAL synchronous_commit = off";

// The station's own row, locked for the batch (no other station's role can see it, let alone
// lock it), and its marks as the batch begins.
constexpr const char* kLockStation =
    "SELECT p.last_local_id, p.last_row_hash, p.last_linkstats_id, p.last_linkstats_hash, "
    "p.mark_origin, p.last_event_id, p.last_event_hash FROM stations s "
    "LEFT JOIN station_uplink_progress p ON p.station = s.name "
    "WHERE s.name = $1 FOR UPDATE OF s NOWAIT";

constexpr const char* kReadMark =
    "SELECT last_local_id, last_row_hash, last_linkstats_id, last_linkstats_hash, mark_origin "
    "FROM station_uplink_progress WHERE station = $1";

// The session that holds the station's row, when it is of this login: one an earlier uplink
// of this folder left behind.
constexpr const char* kEndHolder =
    "SELECT l.pid, pg_terminate_backend(l.pid, 5000) FROM stations s JOIN pg_locks l "
    "ON l.locktype = 'transactionid' AND l.transactionid = s.xmax AND l.granted "
    "AND l.mode = 'ExclusiveLock' JOIN pg_stat_activity a ON a.pid = l.pid "
    "WHERE s.name = $1 AND l.pid <> pg_backend_pid() AND a.usename = current_user";

// Where a batch goes first: row-level security leaves COPY out, so the rows are copied into
// a table of the transaction's own (uplink_batch, uplink_linkstats_batch for Linkstats,
// uplink_events_batch for events), which the server makes for it, and taken over from there
// in one statement.
constexpr const char* kReadingsTable = "SELECT mirv_batch_table('readings')";
constexpr const char* kLinkstatsTable = "SELECT mirv_batch_table('linkstats')";
constexpr const char* kEventsTable = "SELECT mirv_batch_table('events')";

constexpr const char* kHistoryColumns =
    "station, local_id, meter_id, flow_rate, forward_total, reverse_total, inlet_temperature, "
    "outlet_temperature, heat_power, cold_power, heat_total, cold_total, alarm_status, "
    "create_time, time_repeat, create_instant, source_key";

// Every row of the batch, when none is on the server yet (the common case: cheaper than
// checking each row's key first). The instant comes as a number, cheaper to read than a text.
const std::string kTakeAll = std::string("INSERT INTO station_history (") + kHistoryColumns +
                             ") SELECT station, local_id, meter_id, flow_rate, forward_total, "
                             "reverse_total, inlet_temperature, outlet_temperature, heat_power, "
                             "cold_power, heat_total, cold_total, alarm_status, create_time, "
                             "time_repeat, to_timestamp(create_epoch), source_key "
                             "FROM uplink_batch";
// After a take-over statement: rows the server holds already (the history restored or
// replaced, the uplink stopped before its mark moved) are left out by their key.
constexpr const char* kLeaveHeld = " ON CONFLICT DO NOTHING";

// How a row of each batch table is named to the operator when it is set aside.
constexpr const char* kNameReading = "'ID ' || local_id";
constexpr const char* kNameLinkstats = "'meter ' || meter_id || ', hour ' || hour";

// Readings of the batch whose key the server holds with other values (or from other texts),
// each kept once.
constexpr const char* kKeepConflicts =
    "INSERT INTO station_conflicts (station, meter_id, create_time, time_repeat, held, offered) "
    "SELECT b.station, b.meter_id, b.create_time, b.time_repeat, "
    "to_jsonb(h) - '{station,meter_id,create_time,time_repeat,received_at}'::text[], "
    "to_jsonb(b) - '{station,meter_id,create_time,time_repeat,create_epoch}'::text[] "
    "|| jsonb_build_object('create_instant', to_timestamp(b.create_epoch)) "
    "FROM uplink_batch b JOIN station_history h ON h.station = b.station "
    "AND h.meter_id = b.meter_id AND h.create_time = b.create_time "
    "AND h.time_repeat = b.time_repeat "
    "WHERE (h.flow_rate, h.forward_total, h.reverse_total, h.inlet_temperature, "
    "h.outlet_temperature, h.heat_power, h.cold_power, h.heat_total, h.cold_total, "
    "h.alarm_status, h.source_key) IS DISTINCT FROM (b.flow_rate, b.forward_total, "
    "b.reverse_total, b.inlet_temperature, b.outlet_temperature, b.heat_power, b.cold_power, "
    "b.heat_total, b.cold_total, b.alarm_status, b.source_key) "
    "ON CONFLICT DO NOTHING";

// The mark moves, and the station's row counts what came and what was set aside.
constexpr const char* kMoveMark =
    "WITH mark AS (INSERT INTO station_uplink_progress (station, last_local_id, last_row_hash, "
    "mark_origin) VALUES ($1, $2, $3, $6) ON CONFLICT (station) DO UPDATE SET "
    "last_local_id = EXCLUDED.last_local_id, last_row_hash = EXCLUDED.last_row_hash, "
    "mark_origin = EXCLUDED.mark_origin, updated_at = now()) "
    "UPDATE stations SET last_seen = now(), rows_forwarded = rows_forwarded + $4, "
    "rows_set_aside = rows_set_aside + $5 WHERE name = $1";

// Linkstats rows go through uplink_linkstats_batch; they are few, so always.

constexpr const char* kLinkstatsColumns =
    "station, meter_id, hour, requests, answers, misses, crc_wrong, too_short, too_long, "
    "trailing_bytes, wrong_function, wrong_address, response_mean_us, response_max_us";

// Every Linkstats row of the batch.
const std::string kTakeLinkstats = std::string("INSERT INTO station_linkstats (") +
                                   kLinkstatsColumns + ") SELECT " + kLinkstatsColumns +
                                   " FROM uplink_linkstats_batch";

// Rows of the batch whose meter and hour the server holds with other counts.
constexpr const char* kLinkstatsDiffering =
    "SELECT count(*) FROM uplink_linkstats_batch b JOIN station_linkstats l "
    "ON l.station = b.station AND l.meter_id = b.meter_id AND l.hour = b.hour "
    "WHERE (l.requests, l.answers, l.misses, l.crc_wrong, l.too_short, l.too_long, "
    "l.trailing_bytes, l.wrong_function, l.wrong_address, l.response_mean_us, l.response_max_us) "
    "IS DISTINCT FROM (b.requests, b.answers, b.misses, b.crc_wrong, b.too_short, b.too_long, "
    "b.trailing_bytes, b.wrong_function, b.wrong_address, b.response_mean_us, b.response_max_us)";

// The Linkstats mark moves; the readings' mark of a station new to the server is the start.
constexpr const char* kMoveLinkstatsMark =
    "WITH mark AS (INSERT INTO station_uplink_progress (station, last_local_id, last_row_hash, "
    "last_linkstats_id, last_linkstats_hash, mark_origin) VALUES ($1, 0, 0, $2, $3, $4) "
    "ON CONFLICT (station) DO UPDATE SET last_linkstats_id = EXCLUDED.last_linkstats_id, "
    "last_linkstats_hash = EXCLUDED.last_linkstats_hash, mark_origin = EXCLUDED.mark_origin, "
    "updated_at = now()) "
    "UPDATE stations SET last_seen = now(), rows_set_aside = rows_set_aside + $5 WHERE name = $1";

// Events go through uplink_events_batch, as Linkstats rows do.

constexpr const char* kEventColumns =
    "station, local_id, local_time, utc_time, meter_id, kind, phase, text, detail, user_name";

// Every event of the batch.
const std::string kTakeEvents = std::string("INSERT INTO station_events (") + kEventColumns +
                                ") SELECT " + kEventColumns + " FROM uplink_events_batch";

constexpr const char* kNameEvent = "'event ID ' || local_id";

// Events of the batch whose local ID the server holds with other values.
constexpr const char* kEventsDiffering =
    "SELECT count(*) FROM uplink_events_batch b JOIN station_events e "
    "ON e.station = b.station AND e.local_id = b.local_id "
    "WHERE (e.local_time, e.utc_time, e.meter_id, e.kind, e.phase, e.text, e.detail, e.user_name) "
    "IS DISTINCT FROM (b.local_time, b.utc_time, b.meter_id, b.kind, b.phase, b.text, b.detail, "
    "b.user_name)";

// The events' mark moves; the other marks of a station new to the server are the start.
constexpr const char* kMoveEventsMark =
    "WITH mark AS (INSERT INTO station_uplink_progress (station, last_local_id, last_row_hash, "
    "last_event_id, last_event_hash, mark_origin) VALUES ($1, 0, 0, $2, $3, $4) "
    "ON CONFLICT (station) DO UPDATE SET last_event_id = EXCLUDED.last_event_id, "
    "last_event_hash = EXCLUDED.last_event_hash, mark_origin = EXCLUDED.mark_origin, "
    "updated_at = now()) "
    "UPDATE stations SET last_seen = now(), rows_set_aside = rows_set_aside + $5 WHERE name = $1";

// The station's row, made when there is none; one there already is left as it is (and not
// waited for when another transaction holds it).
constexpr const char* kStationRow =
    "INSERT INTO stations (name, identity, zone) VALUES ($1, $2, $3) ON CONFLICT DO NOTHING";
// The station's name for this identity, under the row's lock: taken when unclaimed, kept when
// ours.
constexpr const char* kClaimName =
    "UPDATE stations SET identity = $2, zone = $3, last_seen = now() "
    "WHERE name = $1 AND (identity IS NULL OR identity = $2) RETURNING identity";

// The station's meters as the server holds them, and one written when new or changed.
constexpr const char* kHeldMeters =
    "SELECT address, profile, name FROM station_meters WHERE station = $1";
constexpr const char* kPutMeter =
    "INSERT INTO station_meters (station, address, profile, name) VALUES ($1, $2, $3, $4) "
    "ON CONFLICT (station, address) DO UPDATE SET profile = EXCLUDED.profile, "
    "name = EXCLUDED.name WHERE (station_meters.profile, station_meters.name) "
    "IS DISTINCT FROM (EXCLUDED.profile, EXCLUDED.name)";

// The server said no, as opposed to not being there or going away while starting or stopping.
bool refusedBy(const std::string& message) {
    return message.find("FATAL:") != std::string::npos &&
           message.find("the database system is") == std::string::npos;
}

ForwardMark markAt(const PgResult& r, int column) {
    if (r.rows() != 1 || PQgetisnull(r.get(), 0, column))
        return {};
    return {std::stoll(r.value(0, column)),
            static_cast<std::uint64_t>(std::stoll(r.value(0, column + 1)))};
}

// The row of the COPY stream the server could not take, from 1; 0 when the error is not
// about a value of one row.
long long rowRefused(const PgResult& r) {
    if (!refusedForValues(r))
        return 0;
    // COPY's line comes last, after a trigger's own lines.
    const char* context = PQresultErrorField(r.get(), PG_DIAG_CONTEXT);
    std::string_view text = context ? context : "";
    if (const auto copy = text.rfind("\nCOPY "); copy != std::string_view::npos)
        text.remove_prefix(copy + 1);
    const auto at = text.find(", line ");
    if (text.rfind("COPY ", 0) != 0 || at == std::string_view::npos)
        return 0;
    long long row = 0;
    const char* first = text.data() + at + 7;
    std::from_chars(first, text.data() + text.size(), row);
    return row;
}

// How long a connection may take with its link silent, as the conninfo says (connect_timeout),
// else as long as any call: through a pooler, the login may wait for one of the server
// connections.
std::chrono::milliseconds connectTimeout(const std::string& conninfo) {
    std::chrono::milliseconds timeout = serverCallTimeout();
    if (PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), nullptr)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (std::string_view(o->keyword) == "connect_timeout" && o->val && *o->val)
                timeout = std::min(
                    timeout, std::chrono::milliseconds(std::max(2L, std::atol(o->val)) * 1000));
        PQconninfoFree(options);
    }
    return timeout;
}

// A pooler that cannot take the call now (pgbouncer's texts): a statement or a login waited in
// its queue longer than it lets one wait, or it has as many clients as it may.
bool poolerBusy(const std::string& message) {
    for (const char* text : {"query_wait_timeout", "client_login_timeout", "max_client_conn"})
        if (message.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace

CentralStore::CentralStore(std::string conninfo, StationIdentity station,
                           std::function<void(const std::string&)> say)
    : conninfo_(std::move(conninfo)), station_(std::move(station)), say_(std::move(say)) {}

CentralStore::~CentralStore() {
    close();
}

void CentralStore::close() {
    PQfinish(conn_);
    conn_ = nullptr;
}

bool CentralStore::abandon() {
    if (PQstatus(conn_) == CONNECTION_BAD) {
        close();
        return false;
    }
    const auto state = PQtransactionStatus(conn_);
    if (state == PQTRANS_INTRANS || state == PQTRANS_INERROR) {
        PgResult rollback(conn_, "ROLLBACK");
        if (PQstatus(conn_) == CONNECTION_BAD) {
            close();
            return false;
        }
    }
    return true;
}

CentralFailure CentralStore::failureOf(std::string message) {
    if (poolerBusy(message)) {
        close(); // the pooler ends the connection
        return {CentralFailure::Kind::PoolerBusy, std::move(message)};
    }
    if (!abandon())
        return {CentralFailure::Kind::Unreachable, std::move(message)};
    return {CentralFailure::Kind::Rejected, std::move(message)};
}

void CentralStore::notice(const char* message, const char* from) {
    // What the server tells besides results (warnings, notices): said once each, in one line.
    std::string text = oneLine(message);
    if (text.empty() || !say_ ||
        std::find(noticesSaid_.begin(), noticesSaid_.end(), text) != noticesSaid_.end())
        return;
    noticesSaid_.push_back(text);
    say_(from + text);
}

std::optional<CentralFailure> CentralStore::connect() {
    close();
    // The conninfo decides everything it names. The peer is asked for a sign of life often
    // enough that a link silent for the call bound is told from a wait in a pooler's queue,
    // and the system gives up on it itself only later.
    const long bound = std::max(1L, static_cast<long>(serverCallTimeout().count() / 1000));
    const std::string idle = std::to_string(std::max(1L, bound / 3));
    const std::string interval = std::to_string(std::max(1L, bound / 6));
    const std::string userTimeout = std::to_string(2 * serverCallTimeout().count());
    const char* keys[] = {"connect_timeout",  "keepalives_idle",  "keepalives_interval",
                          "keepalives_count", "tcp_user_timeout", "fallback_application_name",
                          "dbname",           "client_encoding",  nullptr};
    const char* values[] = {
        "30",          idle.c_str(),      interval.c_str(), "6",    userTimeout.c_str(),
        "mirv-uplink", conninfo_.c_str(), "UTF8",           nullptr};
    std::string printed;
    const auto timeout = connectTimeout(conninfo_);
    conn_ = connectWithin(keys, values, Clock::now() + timeout, printed);
    // libpq's own warnings (a password file others may read) are said as ours.
    for (std::size_t at = 0; at < printed.size();) {
        const std::size_t end = std::min(printed.find('\n', at), printed.size());
        notice(printed.substr(at, end - at).c_str(), "");
        at = end + 1;
    }
    if (!conn_)
        return CentralFailure{CentralFailure::Kind::Unreachable, noAnswerText(timeout)};
    if (PQstatus(conn_) != CONNECTION_OK) {
        std::string message = oneLine(PQerrorMessage(conn_));
        const bool refused = PQconnectionNeedsPassword(conn_) || refusedBy(message);
        close();
        if (poolerBusy(message))
            return CentralFailure{CentralFailure::Kind::PoolerBusy, std::move(message)};
        if (message.find("does not support SSL") != std::string::npos)
            return CentralFailure{CentralFailure::Kind::Misconfigured,
                                  "conninfo in uplink.conf asks for TLS (sslmode), which the "
                                  "server does not offer: " +
                                      message};
        return CentralFailure{refused ? CentralFailure::Kind::Refused
                                      : CentralFailure::Kind::Unreachable,
                              std::move(message)};
    }
    PQsetNoticeProcessor(
        conn_,
        [](void* self, const char* m) {
            static_cast<CentralStore*>(self)->notice(m, "server says: ");
        },
        this);
    PQsetnonblocking(conn_, 1);
    serverName_ = std::string(PQhost(conn_)) + ":" + PQport(conn_) + "/" + PQdb(conn_);
    if (auto error = migrateCentralSchema(conn_))
        return failureOf("central schema: " + *error);
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::open() {
    auto failure = connect();
    if (!failure)
        failure = prepare();
    if (failure)
        close();
    return failure;
}

std::optional<CentralFailure> CentralStore::checkStation() {
    PgResult security(conn_, "SELECT row_security_active('station_history')");
    if (!security.ok())
        return failureOf(security.error());
    rowSecurity_ = security.value(0, 0) == "t";
    if (!rowSecurity_)
        return std::nullopt; // the owner's login writes any station
    PgResult own(conn_, "SELECT current_user, mirv_own_station()");
    if (!own.ok())
        return failureOf(own.error());
    if (own.value(0, 1) == station_.name && !PQgetisnull(own.get(), 0, 1))
        return std::nullopt;
    const std::string role = own.value(0, 0);
    return CentralFailure{
        CentralFailure::Kind::Misconfigured,
        PQgetisnull(own.get(), 0, 1)
            ? "station in uplink.conf: the server's role '" + role +
                  "' is no station's role: have the DBA make it with mirv_add_station('" +
                  station_.name + "', '" + role + "')"
            : "station in uplink.conf is '" + station_.name + "', but the server's role '" + role +
                  "' forwards station '" + own.value(0, 1) +
                  "': name that station, or the role of this one in conninfo"};
}

std::optional<CentralFailure> CentralStore::claimName() {
    const auto refusedZone = [this](const PgResult& r) -> std::optional<CentralFailure> {
        if (r.sqlState() != "22023" || r.error().find("zone") == std::string::npos)
            return failureOf(r.error());
        const std::string why = r.error();
        abandon();
        return CentralFailure{CentralFailure::Kind::Misconfigured,
                              "zone in uplink.conf (or the system's, '" + station_.zone +
                                  "'): " + why};
    };
    PgResult row(conn_, kStationRow, {station_.name, station_.identity, station_.zone});
    if (!row.ok())
        return refusedZone(row);
    if (auto failure = beginBatch(false))
        return failure;
    PgResult claim(conn_, kClaimName, {station_.name, station_.identity, station_.zone});
    if (!claim.ok())
        return refusedZone(claim);
    if (claim.rows() == 1) {
        PgResult commit(conn_, "COMMIT");
        if (!commit.ok())
            return failureOf(commit.error());
        return std::nullopt;
    }
    abandon();
    PgResult holder(conn_, "SELECT identity FROM stations WHERE name = $1", {station_.name});
    const std::string other = holder.ok() && holder.rows() == 1 ? holder.value(0, 0) : "?";
    return CentralFailure{CentralFailure::Kind::OtherStation,
                          "station '" + station_.name +
                              "' is forwarded from another PC (identity " + other +
                              "; this one is " + station_.identity +
                              "): give this station a name of its own in uplink.conf"};
}

std::optional<CentralFailure> CentralStore::prepare() {
    if (auto failure = checkStation())
        return failure;
    if (auto failure = claimName())
        return failure;
    return readMeters();
}

std::optional<CentralFailure> CentralStore::readMeters() {
    PgResult held(conn_, kHeldMeters, {station_.name});
    if (!held.ok())
        return failureOf(held.error());
    metersHeld_.clear();
    for (int r = 0; r < held.rows(); ++r)
        metersHeld_[std::stoi(held.value(r, 0))] = {held.value(r, 1), held.value(r, 2)};
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::storeMeters(const std::vector<PlannedMeter>& meters) {
    if (!conn_)
        return CentralFailure{CentralFailure::Kind::Unreachable, "not connected"};
    lastAdded_ = 0;
    std::vector<const PlannedMeter*> changed;
    for (const PlannedMeter& m : meters) {
        const auto held = metersHeld_.find(m.address);
        if (held == metersHeld_.end() || held->second != std::pair(m.profile, m.name))
            changed.push_back(&m);
    }
    if (changed.empty())
        return std::nullopt;
    if (auto failure = beginBatch())
        return failure;
    // A meter the server refuses (a check the DBA added) is left out and said, and not offered
    // again until it changes: it holds up neither the other meters nor the rows.
    long long refused = 0;
    std::string firstRefused;
    for (const PlannedMeter* m : changed) {
        PgResult savepoint(conn_, "SAVEPOINT meter");
        if (!savepoint.ok())
            return failureOf(savepoint.error());
        PgResult put(conn_, kPutMeter,
                     {station_.name, std::to_string(m->address), m->profile, m->name});
        if (put.ok())
            continue;
        if (!refusedForValues(put))
            return failureOf(put.error());
        if (refused++ == 0)
            firstRefused = "meter " + std::to_string(m->address) + ": " + put.error();
        PgResult undo(conn_, "ROLLBACK TO SAVEPOINT meter");
        if (!undo.ok())
            return failureOf(undo.error());
    }
    PgResult commit(conn_, "COMMIT");
    if (!commit.ok())
        return failureOf(commit.error());
    for (const PlannedMeter* m : changed)
        metersHeld_[m->address] = {m->profile, m->name};
    lastAdded_ = static_cast<long long>(changed.size()) - refused;
    if (refused > 0 && say_)
        say_(std::to_string(refused) +
             " meters set aside, the server cannot take them; first: " + firstRefused);
    return std::nullopt;
}

bool CentralStore::endLeftBehind() {
    // Only a session of this folder's: the mark was last moved from here.
    PgResult mark(conn_, kReadMark, {station_.name});
    if (!mark.ok() ||
        (mark.rows() == 1 && mark.value(0, 4) != station_.origin && !PQgetisnull(mark.get(), 0, 4)))
        return false;
    PgResult ended(conn_, kEndHolder, {station_.name});
    if (!ended.ok() || ended.rows() != 1 || ended.value(0, 1) != "t")
        return false;
    say_("ended the server session (PID " + ended.value(0, 0) +
         ") that an earlier uplink of this station left behind");
    return true;
}

std::optional<CentralFailure> CentralStore::lockStation(bool& busy, bool checkMark) {
    busy = false;
    PgResult begin(conn_, kBeginBatch);
    if (!begin.ok())
        return failureOf(begin.error());
    PgResult lock(conn_, kLockStation, {station_.name});
    if (lock.sqlState() == "55P03") {
        busy = true;
        PgResult rollback(conn_, "ROLLBACK");
        if (!rollback.ok())
            return failureOf(rollback.error());
        return std::nullopt;
    }
    if (!lock.ok())
        return failureOf(lock.error());
    if (lock.rows() != 1)
        return failureOf("the server holds no row for station '" + station_.name + "' in stations");
    const ForwardMark readings = markAt(lock, 0);
    const ForwardMark linkstats = markAt(lock, 2);
    const std::string origin = lock.value(0, 4);
    const ForwardMark events = markAt(lock, 5);
    if (!checkMark) {
        mark_ = readings;
        linkstatsMark_ = linkstats;
        eventsMark_ = events;
        markOrigin_ = origin;
    }
    if (readings == mark_ && linkstats == linkstatsMark_ && events == eventsMark_)
        return std::nullopt;
    if (origin == station_.origin) {
        // Moved by the DBA: read again from where it stands.
        auto failure = failureOf("the station's mark on the server moved to ID " +
                                 std::to_string(readings.localId) + "; reading again from there");
        close();
        return failure;
    }
    abandon();
    return CentralFailure{
        CentralFailure::Kind::OtherFolder,
        "station '" + station_.name + "' was forwarded meanwhile from " +
            (origin.empty() ? std::string("elsewhere") : origin) +
            " with the same identity (uplink.id) as this program folder: stop the uplink there, "
            "or give one of the two program folders a new uplink.id (delete it) and a station "
            "name of its own in uplink.conf"};
}

std::optional<CentralFailure> CentralStore::beginBatch(bool checkMark) {
    bool busy = false;
    if (auto failure = lockStation(busy, checkMark))
        return failure;
    if (busy && endLeftBehind())
        if (auto failure = lockStation(busy, checkMark))
            return failure;
    if (busy)
        return CentralFailure{CentralFailure::Kind::StationBusy,
                              "another uplink is forwarding station '" + station_.name + "'"};
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::copyRows(const char* into, const std::string& rows,
                                                     std::string& duplicate, long long& badRow) {
    PgResult start(conn_, (std::string("COPY ") + into + " FROM STDIN").c_str());
    if (PQresultStatus(start.get()) != PGRES_COPY_IN)
        return failureOf(start.error());
    bool timedOut = false;
    auto deadline = Clock::now() + serverCallTimeout();
    // Each step may wait for the server's window at most the call limit.
    const auto put = [&](const char* data, int size) {
        for (;;) {
            const int done =
                size >= 0 ? PQputCopyData(conn_, data, size) : PQputCopyEnd(conn_, nullptr);
            if (done != 0)
                return done == 1 && flushWithin(conn_, deadline, &timedOut);
            if (!flushWithin(conn_, deadline, &timedOut))
                return false;
        }
    };
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t at = 0; at < rows.size(); at += kChunk) {
        deadline = Clock::now() + serverCallTimeout();
        if (!put(rows.data() + at, static_cast<int>(std::min(kChunk, rows.size() - at))))
            return failureOf(timedOut ? noAnswerText() : oneLine(PQerrorMessage(conn_)));
    }
    deadline = Clock::now() + serverCallTimeout();
    if (!put(nullptr, -1))
        return failureOf(timedOut ? noAnswerText() : oneLine(PQerrorMessage(conn_)));
    std::optional<std::string> error;
    bool keyTaken = false;
    long long refused = 0;
    while (PGresult* r = resultWithin(conn_, deadline, &timedOut)) {
        PgResult result(conn_, r);
        if (!error && !result.ok()) {
            error = result.error();
            keyTaken = result.sqlState() == "23505";
            refused = rowRefused(result);
        }
    }
    if (timedOut)
        return failureOf(noAnswerText());
    if (error && keyTaken) {
        duplicate = *error;
        return std::nullopt;
    }
    if (error && refused > 0) {
        badRow = refused;
        lastCopyError_ = *error;
        return std::nullopt;
    }
    if (error)
        return failureOf(*error);
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::storeRows(std::string rows, int count) {
    PgResult table(conn_, kReadingsTable);
    if (!table.ok())
        return failureOf(table.error());
    // A row the server cannot take (a value out of its range) is left out and the rest tried
    // again, so that no such row stops the rows after it.
    for (;;) {
        PgResult savepoint(conn_, "SAVEPOINT batch_rows");
        if (!savepoint.ok())
            return failureOf(savepoint.error());
        long long badRow = 0;
        if (auto failure = storeRowsOnce(rows, count, badRow))
            return failure;
        if (badRow == 0)
            return std::nullopt;
        PgResult undo(conn_, "ROLLBACK TO SAVEPOINT batch_rows");
        if (!undo.ok())
            return failureOf(undo.error());
        setAside(rows, badRow, lastCopyError_, RowName::Reading);
        if (--count == 0)
            return std::nullopt;
    }
}

std::optional<CentralFailure> CentralStore::copyBatch(const char* table, std::string rows,
                                                      int count, RowName name) {
    PgResult tables(conn_, name == RowName::Event ? kEventsTable : kLinkstatsTable);
    if (!tables.ok())
        return failureOf(tables.error());
    // As for readings: a row COPY refuses is left out and the rest copied again.
    for (; count > 0; --count) {
        PgResult savepoint(conn_, "SAVEPOINT batch_rows");
        if (!savepoint.ok())
            return failureOf(savepoint.error());
        std::string duplicate; // the transaction's table has no key
        long long badRow = 0;
        if (auto failure = copyRows(table, rows, duplicate, badRow))
            return failure;
        if (badRow == 0)
            return std::nullopt;
        PgResult undo(conn_, "ROLLBACK TO SAVEPOINT batch_rows");
        if (!undo.ok())
            return failureOf(undo.error());
        setAside(rows, badRow, lastCopyError_, name);
    }
    return std::nullopt;
}

void CentralStore::setAside(std::string& rows, long long badRow, const std::string& why,
                            RowName name) {
    std::size_t at = 0;
    for (long long line = 1; line < badRow && at < rows.size(); ++line)
        at = rows.find('\n', at) + 1;
    const std::size_t end = std::min(rows.find('\n', at), rows.size());
    if (lastSetAside_++ == 0) {
        // The station's name, then the local ID, or the meter and the hour.
        const std::size_t second = rows.find('\t', at) + 1;
        const std::size_t third = rows.find('\t', second) + 1;
        const std::string field = rows.substr(second, third - 1 - second);
        firstSetAside_ = name == RowName::Linkstats
                             ? "meter " + field + ", hour " +
                                   rows.substr(third, rows.find('\t', third) - third) + ": " + why
                             : (name == RowName::Event ? "event ID " : "ID ") + field + ": " + why;
    }
    rows.erase(at, end + 1 - at);
}

std::optional<CentralFailure> CentralStore::takeOver(const char* table, const std::string& head,
                                                     const char* name) {
    PgResult savepoint(conn_, "SAVEPOINT take_over");
    if (!savepoint.ok())
        return failureOf(savepoint.error());
    PgResult all(conn_, (head + kLeaveHeld).c_str());
    if (all.ok()) {
        lastAdded_ = all.changed();
        return std::nullopt;
    }
    if (!refusedForValues(all))
        return failureOf(all.error());
    const std::string why = all.error();
    PgResult undo(conn_, "ROLLBACK TO SAVEPOINT take_over");
    if (!undo.ok())
        return failureOf(undo.error());
    return takeOverApart(table, head, name, why);
}

std::optional<CentralFailure> CentralStore::takeOverApart(const char* table,
                                                          const std::string& head, const char* name,
                                                          const std::string& why) {
    const TakenApart taken = takeApart(conn_, table, head, kLeaveHeld, name, why);
    if (taken.failure)
        return failureOf(*taken.failure);
    lastAdded_ = taken.added;
    if (lastSetAside_ == 0)
        firstSetAside_ = taken.firstSetAside;
    lastSetAside_ += taken.setAside;
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::storeRowsOnce(const std::string& rows, int count,
                                                          long long& badRow) {
    // Mostly every row is new: copied straight in where row-level security does not apply to
    // this role, else taken over from the transaction's table in one statement. A row already
    // there (after the local history was restored or replaced) undoes that, and the batch
    // goes from the transaction's table again, leaving out what the server has.
    std::string duplicate;
    if (rowSecurity_) {
        if (auto failure = copyRows("uplink_batch", rows, duplicate, badRow))
            return failure;
        if (badRow > 0)
            return std::nullopt;
    }
    PgResult savepoint(conn_, "SAVEPOINT straight_in");
    if (!savepoint.ok())
        return failureOf(savepoint.error());
    if (rowSecurity_) {
        PgResult all(conn_, kTakeAll.c_str());
        if (all.ok()) {
            lastAdded_ = all.changed();
            return std::nullopt;
        }
        if (refusedForValues(all)) {
            const std::string why = all.error();
            PgResult undo(conn_, "ROLLBACK TO SAVEPOINT straight_in");
            if (!undo.ok())
                return failureOf(undo.error());
            if (auto failure = takeOverApart("uplink_batch", kTakeAll, kNameReading, why))
                return failure;
            return keepConflicts(count);
        }
        if (all.sqlState() != "23505")
            return failureOf(all.error());
    } else {
        const std::string into = std::string("station_history (") + kHistoryColumns + ")";
        if (auto failure = copyRows(into.c_str(), withInstantText(rows), duplicate, badRow))
            return failure;
        if (badRow > 0)
            return std::nullopt;
        if (duplicate.empty()) {
            lastAdded_ = count;
            return std::nullopt;
        }
    }
    PgResult undo(conn_, "ROLLBACK TO SAVEPOINT straight_in");
    if (!undo.ok())
        return failureOf(undo.error());
    if (!rowSecurity_) {
        if (auto failure = copyRows("uplink_batch", rows, duplicate, badRow))
            return failure;
        if (badRow > 0)
            return std::nullopt;
    }
    if (auto failure = takeOver("uplink_batch", kTakeAll, kNameReading))
        return failure;
    return keepConflicts(count);
}

std::optional<CentralFailure> CentralStore::keepConflicts(int count) {
    if (lastAdded_ >= count)
        return std::nullopt;
    PgResult conflicts(conn_, kKeepConflicts);
    if (!conflicts.ok())
        return failureOf(conflicts.error());
    lastConflicts_ = conflicts.changed();
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::store(const LocalBatch& batch) {
    if (!conn_)
        return CentralFailure{CentralFailure::Kind::Unreachable, "not connected"};
    lastAdded_ = 0;
    lastConflicts_ = 0;
    lastSetAside_ = 0;
    firstSetAside_.clear();
    if (auto failure = beginBatch())
        return failure;
    if (!batch.copyRows.empty())
        if (auto failure = storeRows(withStation(batch.copyRows), batch.rowsForwardable))
            return failure;
    PgResult move(conn_, kMoveMark,
                  {station_.name, std::to_string(batch.end.localId),
                   std::to_string(static_cast<std::int64_t>(batch.end.rowHash)),
                   std::to_string(lastAdded_), std::to_string(lastSetAside_), station_.origin});
    if (!move.ok())
        return failureOf(move.error());
    PgResult commit(conn_, "COMMIT");
    if (!commit.ok())
        return failureOf(commit.error());
    mark_ = batch.end;
    markOrigin_ = station_.origin;
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::storeKeyed(const LocalBatch& batch,
                                                       const KeyedTable& table) {
    if (!conn_)
        return CentralFailure{CentralFailure::Kind::Unreachable, "not connected"};
    lastAdded_ = 0;
    lastConflicts_ = 0;
    lastSetAside_ = 0;
    firstSetAside_.clear();
    if (auto failure = beginBatch())
        return failure;
    if (!batch.copyRows.empty()) {
        if (auto failure = copyBatch(table.batchTable, withStation(batch.copyRows),
                                     batch.rowsForwardable, table.rowName))
            return failure;
        if (auto failure = takeOver(table.batchTable, table.takeAll, table.nameRow))
            return failure;
        if (lastAdded_ + lastSetAside_ < batch.rowsForwardable) {
            PgResult differing(conn_, table.countDiffering);
            if (!differing.ok())
                return failureOf(differing.error());
            lastConflicts_ = std::stoll(differing.value(0, 0));
        }
    }
    PgResult move(conn_, table.moveMark,
                  {station_.name, std::to_string(batch.end.localId),
                   std::to_string(static_cast<std::int64_t>(batch.end.rowHash)), station_.origin,
                   std::to_string(lastSetAside_)});
    if (!move.ok())
        return failureOf(move.error());
    PgResult commit(conn_, "COMMIT");
    if (!commit.ok())
        return failureOf(commit.error());
    markOrigin_ = station_.origin;
    return std::nullopt;
}

std::optional<CentralFailure> CentralStore::storeLinkstats(const LocalBatch& batch) {
    auto failure = storeKeyed(batch, {"uplink_linkstats_batch", kTakeLinkstats, kNameLinkstats,
                                      RowName::Linkstats, kLinkstatsDiffering, kMoveLinkstatsMark});
    if (!failure)
        linkstatsMark_ = batch.end;
    return failure;
}

std::optional<CentralFailure> CentralStore::storeEvents(const LocalBatch& batch) {
    auto failure = storeKeyed(batch, {"uplink_events_batch", kTakeEvents, kNameEvent,
                                      RowName::Event, kEventsDiffering, kMoveEventsMark});
    if (!failure)
        eventsMark_ = batch.end;
    return failure;
}

std::optional<CentralFailure> CentralStore::heartbeat() {
    if (!conn_)
        return CentralFailure{CentralFailure::Kind::Unreachable, "not connected"};
    PgResult touch(conn_, "UPDATE stations SET last_seen = now() WHERE name = $1", {station_.name});
    if (!touch.ok())
        return failureOf(touch.error());
    return std::nullopt;
}

std::string CentralStore::withStation(const std::string& rows) const {
    std::string prefix;
    appendCopyText(prefix, station_.name);
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

std::string CentralStore::withInstantText(const std::string& rows) {
    // The instant is the line's last field but one.
    std::string out;
    out.reserve(rows.size() + rows.size() / 10);
    for (std::size_t at = 0; at < rows.size();) {
        const std::size_t end = rows.find('\n', at);
        const std::size_t next = end == std::string::npos ? rows.size() : end + 1;
        const std::size_t lineEnd = end == std::string::npos ? rows.size() : end;
        const std::size_t lastTab = rows.rfind('\t', lineEnd - 1);
        const std::size_t instantTab = rows.rfind('\t', lastTab - 1);
        const std::string_view epoch(rows.data() + instantTab + 1, lastTab - instantTab - 1);
        out.append(rows, at, instantTab + 1 - at);
        long long seconds = 0;
        if (epoch == "\\N" ||
            std::from_chars(epoch.data(), epoch.data() + epoch.size(), seconds).ec != std::errc())
            out += epoch;
        else
            out += utcText(seconds);
        out.append(rows, lastTab, next - lastTab);
        at = next;
    }
    return out;
}

std::optional<CentralFailure> migrateCentral(const std::string& conninfo,
                                             std::function<void(const std::string&)> say) {
    CentralStore store(conninfo, {}, std::move(say));
    return store.connect();
}

} // namespace mirv
