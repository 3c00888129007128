#include "refused_rows.h"

#include "pg_result.h"

#include <vector>

namespace mirv {

bool refusedForValues(const PgResult& result) {
    const std::string state = result.sqlState();
    // Data exceptions; a missing value, a foreign key or a check; an exception a trigger raised.
    return state.rfind("22", 0) == 0 || state == "23502" || state == "23503" || state == "23514" ||
           state == "P0001" || state == "P0004";
}

TakenApart takeApart(pg_conn* conn, const std::string& table, const std::string& head,
                     const std::string& tail, const std::string& describe, const std::string& why) {
    TakenApart out;
    // A table filled once in this transaction: its rows' places order and address them.
    PgResult places(conn, ("SELECT ctid FROM " + table + " ORDER BY ctid").c_str());
    if (!places.ok()) {
        out.failure = places.error();
        return out;
    }
    std::vector<std::string> place(static_cast<std::size_t>(places.rows()));
    for (std::size_t i = 0; i < place.size(); ++i)
        place[i] = places.value(static_cast<int>(i), 0);
    const std::string part = head + " WHERE ctid BETWEEN $1::tid AND $2::tid" + tail;

    // Parts still to take, the next on top; one with a reason was refused as a whole.
    struct Part {
        std::size_t first, last;
        std::string refused;
    };
    std::vector<Part> todo;
    if (!place.empty())
        todo.push_back({0, place.size() - 1, why});
    while (!todo.empty()) {
        Part p = std::move(todo.back());
        todo.pop_back();
        if (!p.refused.empty() && p.first == p.last) {
            if (out.setAside++ == 0) {
                PgResult named(
                    conn,
                    ("SELECT " + describe + " FROM " + table + " WHERE ctid = $1::tid").c_str(),
                    {place[p.first]});
                out.firstSetAside =
                    (named.ok() && named.rows() == 1 ? named.value(0, 0) : place[p.first]) + ": " +
                    p.refused;
            }
            continue;
        }
        if (!p.refused.empty()) {
            const std::size_t middle = p.first + (p.last - p.first) / 2;
            todo.push_back({middle + 1, p.last, {}});
            todo.push_back({p.first, middle, {}});
            continue;
        }
        PgResult savepoint(conn, "SAVEPOINT part");
        if (!savepoint.ok()) {
            out.failure = savepoint.error();
            return out;
        }
        PgResult taken(conn, part.c_str(), {place[p.first], place[p.last]});
        if (!taken.ok() && !refusedForValues(taken)) {
            out.failure = taken.error();
            return out;
        }
        PgResult end(conn, taken.ok() ? "RELEASE SAVEPOINT part"
                                      : "ROLLBACK TO SAVEPOINT part; RELEASE SAVEPOINT part");
        if (!end.ok()) {
            out.failure = end.error();
            return out;
        }
        if (taken.ok())
            out.added += taken.changed();
        else
            todo.push_back({p.first, p.last, taken.error()});
    }
    return out;
}

} // namespace mirv
