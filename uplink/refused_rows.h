#pragma once

#include <optional>
#include <string>

struct pg_conn;

namespace mirv {

class PgResult;

// Whether the server refused a statement for the values of a row it was given (a value out of
// range, a constraint, a trigger's exception) rather than for the statement, the session or
// the server's state: what leaving that row out gets past.
bool refusedForValues(const PgResult& result);

// What taking a table's rows over part by part did.
struct TakenApart {
    long long added = 0;
    long long setAside = 0;
    // The first row set aside, as `describe` gave it, with the server's reason.
    std::string firstSetAside;
    // Why the rows could not be taken over, for a reason other than a row's values; the
    // transaction is then to be abandoned.
    std::optional<std::string> failure;
};

// Takes the rows of `table` (filled in this transaction) over with `head` ("INSERT … SELECT …
// FROM table") and `tail` (what follows its WHERE), after the whole was refused for a row's
// values (`why`): the rows are halved, and halves refused halved again, each part under a
// savepoint, until each refused row stands alone and is set aside; every other row is taken.
// `describe` is an SQL expression naming a row of `table` for the operator.
TakenApart takeApart(pg_conn* conn, const std::string& table, const std::string& head,
                     const std::string& tail, const std::string& describe, const std::string& why);

} // namespace mirv
