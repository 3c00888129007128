#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace mirv {

// How long a call waits for a server whose link gives no sign of life (its peer acknowledges
// nothing, not even a keepalive probe), unless set otherwise: such a connection is given up,
// so that the uplink reconnects instead of hanging.
inline constexpr std::chrono::seconds kServerCallTimeout{30};
// How much longer a call waits while the link's peer still acknowledges: the wait may be a
// pooler's queue, which the pooler ends itself (pgbouncer's query_wait_timeout, 120 s by
// default), before a server connection is free.
inline constexpr std::chrono::seconds kLiveLinkGrace{150};

// The bound for a silent link, kServerCallTimeout until set.
std::chrono::milliseconds serverCallTimeout();
void setServerCallTimeout(std::chrono::milliseconds timeout);

// Every wait for the server below ends early once `*stop` is set (a signal asked the program to
// end): the connection is then broken, as for a server that does not answer. Null: never.
void stopWaitingWhen(const std::atomic<bool>* stop);
// Whether a wait ended for that reason.
bool waitingStopped();

// Connects with libpq's `keys` and `values` (as PQconnectdbParams, expanding dbname), waiting
// until `deadline` at most. What libpq printed on standard error while reading its options
// (a warning about the password file) goes to `printed` instead. Null when the deadline passed
// or a stop was asked for first; else PQstatus tells.
pg_conn* connectWithin(const char* const* keys, const char* const* values,
                       std::chrono::steady_clock::time_point deadline, std::string& printed);

// libpq's message as one line: blanks and line breaks run together, no trailing break.
std::string oneLine(const char* message);

// Sends what libpq holds for the server, waiting until `deadline` at most; false when it could
// not (the connection is then broken, see breakConnection).
bool flushWithin(pg_conn* conn, std::chrono::steady_clock::time_point deadline,
                 bool* timedOut = nullptr);

// The next result of the statement in flight, waiting until `deadline` at most; null when
// there is none left, and also when the server did not answer in time (the connection is then
// broken, and PQstatus says CONNECTION_BAD).
pg_result* resultWithin(pg_conn* conn, std::chrono::steady_clock::time_point deadline,
                        bool* timedOut = nullptr);

// What a call that waited `timeout` in vain says.
std::string noAnswerText(std::chrono::milliseconds timeout = serverCallTimeout());

// Shuts the connection's socket, so that libpq sees it as gone.
void breakConnection(pg_conn* conn);

// The result of one statement on a libpq connection (in non-blocking mode), cleared when it
// goes. Waits for the server as every call does (serverCallTimeout, kLiveLinkGrace).
class PgResult {
  public:
    // Runs `sql` (text parameters $1.. from `params`; several statements when there are none)
    // and waits for its last result, `timeout` at most.
    PgResult(pg_conn* conn, const char* sql, const std::vector<std::string>& params = {},
             std::chrono::milliseconds timeout = serverCallTimeout());
    // Takes a result libpq handed out (may be null).
    PgResult(pg_conn* conn, pg_result* result);
    ~PgResult();
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    // The statement completed, with or without rows.
    bool ok() const;
    // Why not, in one line.
    std::string error() const;
    // The SQLSTATE of the error, empty when there is none.
    std::string sqlState() const;
    int rows() const;
    std::string value(int row, int column) const;
    // Rows the statement changed, as the server counted them.
    long long changed() const;
    pg_result* get() const { return result_; }

  private:
    pg_conn* conn_;
    pg_result* result_ = nullptr;
    bool timedOut_ = false;
    std::chrono::milliseconds timeout_ = serverCallTimeout();
};

} // namespace mirv
