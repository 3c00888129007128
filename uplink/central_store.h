#pragma once

#include "local_history.h"
#include "meter_plan.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace mirv {

// Why the server could not be used.
struct CentralFailure {
    enum class Kind {
        Unreachable,   // no connection, it broke, or the server did not answer in time
        Refused,       // the server answered no: authentication, unknown role or database
        Rejected,      // connected, but a statement failed
        StationBusy,   // another uplink forwards this station now
        OtherStation,  // the station's name is taken by a PC of another identity
        OtherFolder,   // the station is forwarded from another PC or folder of this identity
        Misconfigured, // a setting of uplink.conf the server cannot work with; said naming it
        PoolerBusy,    // the pooler in between cannot take the call now; worth retrying soon
    };
    Kind kind;
    std::string message;
};

// Who forwards: the station's name, the identity of this PC's program folder, the station's
// time zone, and where its rows are read (this PC and the file), which tells two PCs given
// the same identity apart.
struct StationIdentity {
    std::string name;
    std::string identity;
    std::string zone;
    std::string origin;
};

// The station's rows on the PostgreSQL server: one connection, the schema brought up to date
// on connecting, and each batch stored in one transaction together with the station's mark.
// Nothing outlives a transaction on the server (no lock, no table, no setting), so that a
// pooler may hand each transaction to another server connection. Every call waits for a
// silent server serverCallTimeout() at most, on a link whose peer still acknowledges
// kLiveLinkGrace longer.
class CentralStore {
  public:
    // `say` receives the server's notices, each text once.
    CentralStore(std::string conninfo, StationIdentity station,
                 std::function<void(const std::string&)> say);
    ~CentralStore();
    CentralStore(const CentralStore&) = delete;
    CentralStore& operator=(const CentralStore&) = delete;

    // Connects, migrates, checks that the login's station is this one, claims the station's
    // name for this identity and reads the station's mark.
    std::optional<CentralFailure> open();
    void close();
    bool isOpen() const { return conn_ != nullptr; }

    // The last row stored for this station, as of open() or the last store().
    const ForwardMark& mark() const { return mark_; }
    // The last Linkstats row stored for this station (its rowid), likewise.
    const ForwardMark& linkstatsMark() const { return linkstatsMark_; }
    // The last Events row stored for this station, likewise.
    const ForwardMark& eventsMark() const { return eventsMark_; }
    // Where the mark was read from (StationIdentity::origin); empty when nobody said.
    const std::string& markOrigin() const { return markOrigin_; }
    // Where this uplink reads (its StationIdentity::origin).
    const std::string& origin() const { return station_.origin; }
    // "host:port/database" of the connection.
    const std::string& serverName() const { return serverName_; }

    // Copies the batch's rows in, keeps those not there yet, keeps a reading whose key the
    // server holds with other values in station_conflicts, and moves the mark to the batch's
    // end, all in one transaction, which holds the lock on the station's row. A row the server
    // cannot take is set aside (left out and counted in the station's rows_set_aside), the
    // rest stored. On failure nothing is stored; a broken connection is closed.
    std::optional<CentralFailure> store(const LocalBatch& batch);
    // The same for a batch of Linkstats rows: those whose station, meter and hour the server
    // holds already are left out; the Linkstats mark moves to the batch's end.
    std::optional<CentralFailure> storeLinkstats(const LocalBatch& batch);
    // The same for a batch of Events rows: those whose station and local ID the server holds
    // already are left out; the events' mark moves to the batch's end.
    std::optional<CentralFailure> storeEvents(const LocalBatch& batch);
    // Rows the last store(), storeLinkstats() or storeEvents() added (the rest were there
    // already); readings store() kept as conflicts for the first time, or Linkstats rows or
    // events left out that the server holds with other values.
    long long lastAdded() const { return lastAdded_; }
    long long lastConflicts() const { return lastConflicts_; }
    // Rows the last store(), storeLinkstats() or storeEvents() set aside, and the first of them
    // with the server's reason.
    long long lastSetAside() const { return lastSetAside_; }
    const std::string& firstSetAside() const { return firstSetAside_; }

    // Brings the station's meters on the server (station_meters) to `meters`, in one
    // transaction: only those new or changed since open() or the last call are written, so a
    // call with nothing new asks nothing of the server. lastAdded() says how many; a meter the
    // server refuses is said and left out until it changes.
    std::optional<CentralFailure> storeMeters(const std::vector<PlannedMeter>& meters);

    // Tells the server the uplink is alive (the station's last_seen).
    std::optional<CentralFailure> heartbeat();

  private:
    std::optional<CentralFailure> connect();
    std::optional<CentralFailure> prepare();
    std::optional<CentralFailure> checkStation();
    // Claims the station's name for this identity and reads its marks, under its row's lock.
    std::optional<CentralFailure> claimName();
    // Reads the station's meters as the server holds them.
    std::optional<CentralFailure> readMeters();
    // Begins a batch's transaction: the station's row locked, the marks checked unmoved (or,
    // without `checkMark`, read).
    std::optional<CentralFailure> beginBatch(bool checkMark = true);
    std::optional<CentralFailure> lockStation(bool& busy, bool checkMark);
    // Ends the server session of an earlier uplink of this folder that holds the station's
    // row; whether there was one.
    bool endLeftBehind();
    // COPY `rows` into `into`; `duplicate` says why when only a key already there stopped it,
    // `badRow` (from 1) which row the server could not take, when one stopped it.
    std::optional<CentralFailure> copyRows(const char* into, const std::string& rows,
                                           std::string& duplicate, long long& badRow);
    std::optional<CentralFailure> storeRows(std::string rows, int count);
    std::optional<CentralFailure> storeRowsOnce(const std::string& rows, int count,
                                                long long& badRow);
    // Keeps the batch's readings the server holds with other values, when not all were added.
    std::optional<CentralFailure> keepConflicts(int count);
    // How a row set aside is named: a reading or an event by its local ID, a Linkstats row by
    // its meter and hour.
    enum class RowName { Reading, Linkstats, Event };
    // One table keyed by what the station writes once (Linkstats, Events): its batch table,
    // how its rows are taken over and named, how those the server holds with other values
    // are counted, and how its mark moves.
    struct KeyedTable {
        const char* batchTable;
        const std::string& takeAll;
        const char* nameRow;
        RowName rowName;
        const char* countDiffering;
        const char* moveMark;
    };
    // Stores a batch of such a table in one transaction with its mark.
    std::optional<CentralFailure> storeKeyed(const LocalBatch& batch, const KeyedTable& table);
    // Copies `rows` into the batch table, leaving out what COPY refuses.
    std::optional<CentralFailure> copyBatch(const char* table, std::string rows, int count,
                                            RowName name);
    // Takes row `badRow` out of `rows` and counts it as set aside.
    void setAside(std::string& rows, long long badRow, const std::string& why, RowName name);
    // Takes a batch table's rows over with `head` ("INSERT … SELECT … FROM table"), leaving
    // out those the server holds; when a row's values are refused, part by part.
    std::optional<CentralFailure> takeOver(const char* table, const std::string& head,
                                           const char* name);
    // Takes a batch table's rows over part by part after the whole was refused for a row's
    // values (`why`), setting aside each refused row; `head` is the statement taking them all.
    std::optional<CentralFailure> takeOverApart(const char* table, const std::string& head,
                                                const char* name, const std::string& why);
    // The rows with the station in front of each.
    std::string withStation(const std::string& rows) const;
    // The rows with the instant as a timestamptz text instead of seconds, for COPY.
    static std::string withInstantText(const std::string& rows);
    // Rolls back the transaction in hand; false when the connection broke (it is closed).
    bool abandon();
    CentralFailure failureOf(std::string message);
    // Says `message` once, after `from`.
    void notice(const char* message, const char* from);

    std::string conninfo_;
    StationIdentity station_;
    std::function<void(const std::string&)> say_;
    pg_conn* conn_ = nullptr;
    ForwardMark mark_;
    ForwardMark linkstatsMark_;
    ForwardMark eventsMark_;
    std::string markOrigin_;
    std::string serverName_;
    long long lastAdded_ = 0;
    long long lastConflicts_ = 0;
    long long lastSetAside_ = 0;
    std::string firstSetAside_;
    std::string lastCopyError_;
    bool rowSecurity_ = true; // this role is confined by row-level security
    std::vector<std::string> noticesSaid_;
    // The station's meters on the server: profile and name by address.
    std::map<int, std::pair<std::string, std::string>> metersHeld_;

    friend std::optional<CentralFailure> migrateCentral(const std::string& conninfo,
                                                        std::function<void(const std::string&)>);
};

// Connects and brings the central schema up to date, for the schema's owner: what the
// station roles may not do.
std::optional<CentralFailure> migrateCentral(const std::string& conninfo,
                                             std::function<void(const std::string&)> say);

} // namespace mirv
