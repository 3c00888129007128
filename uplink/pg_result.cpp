#include "pg_result.h"

#include <cstdlib>
#include <libpq-fe.h>

namespace mirv {

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

PgResult::PgResult(pg_conn* conn, const char* sql, const std::vector<std::string>& params)
    : conn_(conn) {
    std::vector<const char*> values;
    for (const std::string& p : params)
        values.push_back(p.c_str());
    result_ = params.empty() ? PQexec(conn, sql)
                             : PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr,
                                            values.data(), nullptr, nullptr, 0);
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
    return oneLine(message && *message ? message : PQerrorMessage(conn_));
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
