#include "pg_result.h"

#include <cstdlib>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

namespace mirv {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for `events` or the deadline passes; false on the deadline.
bool socketReady(pg_conn* conn, short events, Clock::time_point deadline) {
    const int fd = PQsocket(conn);
    if (fd < 0)
        return true; // libpq says why on the next call
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n != 0)
            return true; // ready, or an error libpq reports itself
    }
}

} // namespace

std::string oneLine(const char* message) {
    std::string out;
    bool blank = false;
    for (const char* p = message ? message : ""; *p; ++p) {
        if (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += *p;
    }
    return out;
}

void breakConnection(pg_conn* conn) {
    if (PQsocket(conn) >= 0)
        ::shutdown(PQsocket(conn), SHUT_RDWR);
    PQconsumeInput(conn); // libpq reads the end and marks the connection bad
}

std::string noAnswerText(std::chrono::milliseconds timeout) {
    return "the server did not answer within " + std::to_string(timeout.count() / 1000) + " s";
}

bool flushWithin(pg_conn* conn, Clock::time_point deadline, bool* timedOut) {
    for (;;) {
        const int left = PQflush(conn);
        if (left <= 0)
            return left == 0;
        // The server may be sending while we send: read it, or the two could wait on each other.
        if (!socketReady(conn, POLLIN | POLLOUT, deadline)) {
            breakConnection(conn);
            if (timedOut)
                *timedOut = true;
            return false;
        }
        if (!PQconsumeInput(conn))
            return false;
    }
}

pg_result* resultWithin(pg_conn* conn, Clock::time_point deadline, bool* timedOut) {
    if (!flushWithin(conn, deadline, timedOut))
        return nullptr;
    while (PQisBusy(conn)) {
        if (!socketReady(conn, POLLIN, deadline)) {
            breakConnection(conn);
            if (timedOut)
                *timedOut = true;
            return nullptr;
        }
        if (!PQconsumeInput(conn))
            break;
    }
    return PQgetResult(conn);
}

PgResult::PgResult(pg_conn* conn, const char* sql, const std::vector<std::string>& params,
                   std::chrono::milliseconds timeout)
    : conn_(conn), timeout_(timeout) {
    std::vector<const char*> values;
    for (const std::string& p : params)
        values.push_back(p.c_str());
    const int sent = params.empty()
                         ? PQsendQuery(conn, sql)
                         : PQsendQueryParams(conn, sql, static_cast<int>(values.size()), nullptr,
                                             values.data(), nullptr, nullptr, 0);
    if (!sent)
        return;
    const auto deadline = Clock::now() + timeout;
    // The last result counts; an error ends the statements that follow it.
    while (pg_result* r = resultWithin(conn, deadline, &timedOut_)) {
        if (result_ && PQresultStatus(result_) == PGRES_FATAL_ERROR) {
            PQclear(r);
            continue;
        }
        PQclear(result_);
        result_ = r;
        const ExecStatusType s = PQresultStatus(r);
        if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH)
            return; // the caller goes on with the copy
    }
    if (PQstatus(conn) == CONNECTION_BAD && result_ &&
        PQresultStatus(result_) != PGRES_FATAL_ERROR) {
        PQclear(result_); // the answer did not come whole
        result_ = nullptr;
    }
}

PgResult::PgResult(pg_conn* conn, pg_result* result) : conn_(conn), result_(result) {}

PgResult::~PgResult() {
    PQclear(result_);
}

bool PgResult::ok() const {
    const ExecStatusType s = PQresultStatus(result_);
    return result_ && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
}

std::string PgResult::error() const {
    const char* message = result_ ? PQresultErrorMessage(result_) : "";
    if (message && *message)
        return oneLine(message);
    const std::string why = oneLine(PQerrorMessage(conn_));
    return timedOut_ || why.empty() ? noAnswerText(timeout_) : why;
}

std::string PgResult::sqlState() const {
    const char* state = result_ ? PQresultErrorField(result_, PG_DIAG_SQLSTATE) : nullptr;
    return state ? state : "";
}

int PgResult::rows() const {
    return PQntuples(result_);
}

std::string PgResult::value(int row, int column) const {
    const char* text = PQgetvalue(result_, row, column);
    return text ? text : "";
}

long long PgResult::changed() const {
    return std::atoll(PQcmdTuples(result_));
}

} // namespace mirv
