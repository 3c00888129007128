#include "linkstats.h"

#include "database.h"

namespace mirv {

const char* const kLinkstatsTableSql =
    "CREATE TABLE IF NOT EXISTS Linkstats ("
    "MeterID INTEGER, Hour TEXT, Requests INTEGER, Answers INTEGER, Misses INTEGER, "
    "CrcWrong INTEGER, TooShort INTEGER, TooLong INTEGER, Trailing INTEGER, "
    "WrongFunction INTEGER, WrongAddress INTEGER, ResponseMeanUs INTEGER, ResponseMaxUs INTEGER);"
    "CREATE UNIQUE INDEX IF NOT EXISTS Linkstats_Hour_MeterID ON Linkstats (Hour, MeterID);";

namespace {

constexpr const char* kColumns = "MeterID, Hour, Requests, Answers, Misses, CrcWrong, TooShort, "
                                 "TooLong, Trailing, WrongFunction, WrongAddress, "
                                 "ResponseMeanUs, ResponseMaxUs";

std::int64_t asInteger(std::uint64_t v) {
    return static_cast<std::int64_t>(v);
}

// An hour without an answer has no response time: NULL.
void bindTime(Statement& s, int index, std::optional<std::int64_t> us) {
    if (us)
        s.bind(index, *us);
    else
        s.bindNull(index);
}

} // namespace

bool insertLinkstats(Database& db, const std::vector<LinkstatsRow>& rows) {
    if (rows.empty())
        return true;
    if (!db.exec(kLinkstatsTableSql))
        return false;
    Statement insert(db, std::string("INSERT OR IGNORE INTO Linkstats (") + kColumns +
                             ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
    if (!insert.ok())
        return false;
    for (const LinkstatsRow& r : rows) {
        const HourTally& t = r.tally;
        insert.reset();
        insert.bind(1, std::int64_t{t.meter});
        insert.bind(2, r.hour);
        insert.bind(3, asInteger(t.requests));
        insert.bind(4, asInteger(t.answers));
        insert.bind(5, asInteger(t.missed));
        for (int c = 0; c < kRejectCauses; ++c)
            insert.bind(6 + c, asInteger(t.rejects[c]));
        bindTime(insert, 12, t.responseMeanUs());
        bindTime(insert, 13, t.responseMaxUs);
        insert.step();
        if (insert.failed())
            return false;
    }
    return true;
}

std::optional<std::string> readLinkstats(Database& db, const std::string& from,
                                         const std::string& to, int meter,
                                         std::vector<LinkstatsRow>& rows) {
    {
        // A database no hour has been written to yet may lack the table: no rows then.
        Statement table(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                            "name = 'Linkstats'");
        if (!table.ok())
            return db.error();
        if (!table.step())
            return table.failed() ? std::optional(db.error()) : std::nullopt;
    }
    Statement select(db, std::string("SELECT ") + kColumns +
                             " FROM Linkstats WHERE Hour >= ?1 AND Hour <= ?2 AND (?3 = 0 OR "
                             "MeterID = ?3) ORDER BY Hour, MeterID");
    if (!select.ok())
        return db.error();
    select.bind(1, from);
    select.bind(2, to);
    select.bind(3, std::int64_t{meter});
    while (select.step()) {
        LinkstatsRow r;
        r.tally.meter = static_cast<int>(select.integer(0));
        r.hour = select.text(1);
        r.tally.requests = static_cast<std::uint64_t>(select.integer(2));
        r.tally.answers = static_cast<std::uint64_t>(select.integer(3));
        r.tally.missed = static_cast<std::uint64_t>(select.integer(4));
        for (int c = 0; c < kRejectCauses; ++c)
            r.tally.rejects[c] = static_cast<std::uint64_t>(select.integer(5 + c));
        r.tally.responseSumUs = select.integer(11) * static_cast<std::int64_t>(r.tally.answers);
        r.tally.responseMaxUs = select.wholeNumber(12);
        rows.push_back(std::move(r));
    }
    if (select.failed())
        return db.error();
    return std::nullopt;
}

} // namespace mirv
