#pragma once

#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace mirv {

// libpq's message as one line: blanks and line breaks run together, no trailing break.
std::string oneLine(const char* message);

// The result of one statement on a libpq connection, cleared when it goes.
class PgResult {
  public:
    // Runs `sql` (text parameters $1.. from `params`, none when empty) and waits for it.
    PgResult(pg_conn* conn, const char* sql, const std::vector<std::string>& params = {});
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
    pg_result* result_;
};

} // namespace mirv
