#pragma once

#include "local_history.h"

#include <optional>
#include <string>

struct pg_conn;

namespace mirv {

// Why the server could not be used.
struct CentralFailure {
    enum class Kind {
        Unreachable, // no connection, or it broke
        Refused,     // the server answered no: authentication, unknown role or database
        Rejected,    // connected, but a statement failed
        StationBusy, // another uplink forwards this station now
    };
    Kind kind;
    std::string message;
};

// The station's rows on the PostgreSQL server: one connection, the schema brought up to date
// on connecting, and each batch stored in one transaction together with the station's mark.
class CentralStore {
  public:
    CentralStore(std::string conninfo, std::string station);
    ~CentralStore();
    CentralStore(const CentralStore&) = delete;
    CentralStore& operator=(const CentralStore&) = delete;

    // Connects, migrates, takes the station's advisory lock (held while connected) and reads
    // the station's mark.
    std::optional<CentralFailure> open();
    void close();
    bool isOpen() const { return conn_ != nullptr; }

    // The last row stored for this station, as of open() or the last store().
    const ForwardMark& mark() const { return mark_; }
    // "host:port/database" of the connection.
    const std::string& serverName() const { return serverName_; }

    // Copies the batch's rows in, keeps those not there yet and moves the mark to the batch's
    // end, all in one transaction. On failure nothing is stored; a broken connection is closed.
    std::optional<CentralFailure> store(const LocalBatch& batch);
    // Rows the last store() added (the rest were there already).
    long long lastAdded() const { return lastAdded_; }

  private:
    std::optional<CentralFailure> prepare();
    // COPY `rows` into `into`; `duplicate` when only a key already there stopped it.
    std::optional<CentralFailure> copyRows(const char* into, const std::string& rows,
                                           long long& copied, bool& duplicate);
    std::optional<CentralFailure> storeRows(const std::string& rows, long long& added);
    // The rows with the station in front of each.
    std::string withStation(const std::string& rows) const;
    CentralFailure failureOf(std::string message);

    std::string conninfo_;
    std::string station_;
    pg_conn* conn_ = nullptr;
    ForwardMark mark_;
    std::string serverName_;
    long long lastAdded_ = 0;
};

} // namespace mirv
