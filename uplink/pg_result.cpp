#include "pg_result.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mirv {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<const std::atomic<bool>*> stopFlag{nullptr};
std::atomic<long long> silentLinkMs{std::chrono::milliseconds(kServerCallTimeout).count()};

bool stopRequested() {
    const std::atomic<bool>* stop = stopFlag.load();
    return stop && stop->load();
}

// Whether the peer of `fd` acknowledged anything, data or a keepalive probe, within
// `within`. A local socket's peer counts as there: the socket closes when its process ends.
bool peerAnswered(int fd, std::chrono::milliseconds within) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return false;
    if (address.ss_family == AF_UNIX)
        return true;
    tcp_info info{};
    size = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    // Data of ours still unacknowledged this late means the peer is not there, even when its
    // system still sends (retransmits what it had sent): only its acknowledgements count.
    return info.tcpi_state == TCP_ESTABLISHED && info.tcpi_last_ack_recv < within.count() &&
           info.tcpi_unacked == 0;
}

// Waits until the socket is ready for `events`, a stop is asked for, or the deadline passes
// with the link silent; on a link whose peer still acknowledges, kLiveLinkGrace longer. False
// when not ready.
bool socketReady(pg_conn* conn, short events, Clock::time_point deadline) {
    const int fd = PQsocket(conn);
    if (fd < 0)
        return true; // libpq says why on the next call
    const auto lastChance = deadline + kLiveLinkGrace;
    for (;;) {
        const auto now = Clock::now();
        if (stopRequested() || now >= lastChance ||
            (now >= deadline && !peerAnswered(fd, serverCallTimeout())))
            return false;
        // A stop, and past the deadline a silent link, is noticed within a tenth of a second.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            (now < deadline ? deadline : lastChance) - now);
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 100)));
        if (n != 0)
            return true; // ready, or an error libpq reports itself
    }
}

// What the process writes on standard error meanwhile, kept instead; only the calling thread
// may write there while one lives.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        saved_ = ::dup(STDERR_FILENO);
        if (saved_ < 0 || ::dup2(pipe_[1], STDERR_FILENO) < 0) {
            restore();
            return;
        }
    }
    ~StderrCapture() { restore(); }
    std::string text() {
        std::fflush(stderr);
        std::string out;
        char buffer[4096];
        for (ssize_t n; pipe_[0] >= 0 && (n = ::read(pipe_[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        return out;
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

  private:
    void restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
        for (int& fd : pipe_)
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
    }
    int pipe_[2] = {-1, -1};
    int saved_ = -1;
};

} // namespace

std::chrono::milliseconds serverCallTimeout() {
    return std::chrono::milliseconds(silentLinkMs.load());
}

void setServerCallTimeout(std::chrono::milliseconds timeout) {
    silentLinkMs = timeout.count();
}

void stopWaitingWhen(const std::atomic<bool>* stop) {
    stopFlag = stop;
}

bool waitingStopped() {
    return stopRequested();
}

pg_conn* connectWithin(const char* const* keys, const char* const* values,
                       Clock::time_point deadline, std::string& printed) {
    pg_conn* conn = nullptr;
    {
        StderrCapture capture;
        conn = PQconnectStartParams(keys, values, 1);
        printed = capture.text();
    }
    if (!conn || PQstatus(conn) == CONNECTION_BAD)
        return conn;
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;;) {
        if (state == PGRES_POLLING_OK || state == PGRES_POLLING_FAILED)
            return conn;
        if (!socketReady(conn, state == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
            PQfinish(conn);
            return nullptr;
        }
        state = PQconnectPoll(conn);
    }
}

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
    if (stopRequested())
        return "stopped while waiting for the server";
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
