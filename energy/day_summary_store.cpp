#include "day_summary_store.h"

#include "database.h"
#include "event_journal.h"
#include "hour_summary.h"
#include "local_time.h"
#include "written_order.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace mirv {

namespace {

constexpr const char* kTotalColumns = "TXTleijire_z, TXTleijileng_z, Foward, Reverse";
constexpr int kStaleDaysPerStep = 50;
// Rows folded in at most by one logging pass: a pass after another program added a great many
// leaves the rest to the next ones (readers take those days from the rows meanwhile).
constexpr int kRowsPerFold = 20000;
// Tries at taking the write lock, 200 ms apart, before the build gives up until the next start.
constexpr int kBusyWaits = 150;

using DayMeter = std::pair<std::string, std::string>;

// The day summaries a build summed up (again), for its journal entry.
struct Rebuilt {
    std::set<std::string> days;
    std::size_t summaries = 0;
    void add(const DayMeter& key) {
        days.insert(key.first);
        ++summaries;
    }
};
// A day's hours by their text.
using DayHours = std::map<std::string, HourSummarizer>;

std::string hourColumnsSql() {
    std::string sql;
    for (const std::string_view column : kHourColumnNames)
        sql += std::string(sql.empty() ? "" : ", ") + std::string(column);
    return sql;
}

std::array<std::string_view, kHourColumns> hourCellsAt(const Statement& row, int first) {
    std::array<std::string_view, kHourColumns> cells;
    for (int c = 0; c < kHourColumns; ++c)
        cells[c] = row.textView(first + c);
    return cells;
}

void addToHour(DayHours& hours, std::int64_t id, std::string_view createTime,
               const std::array<std::string_view, kHourColumns>& cells) {
    const std::string hour(createTime.substr(0, 13));
    auto at = hours.find(hour);
    if (at == hours.end())
        at = hours.emplace(hour, HourSummarizer(hour)).first;
    at->second.add(id, createTime, cells);
}

std::array<std::string_view, kEnergyTotals> totalsAt(const Statement& row, int first) {
    return {row.textView(first), row.textView(first + 1), row.textView(first + 2),
            row.textView(first + 3)};
}

// The statement that stores a summary, prepared once for many.
std::string saveSql() {
    return std::string("INSERT OR REPLACE INTO Historyday (Day, MeterID, ") + kDaySummaryColumns +
           ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)";
}

bool saveDaySummary(Statement& save, const DayMeter& key, const DaySummary& s) {
    save.reset();
    save.bind(1, key.first);
    save.bind(2, key.second);
    save.bind(3, s.records);
    save.bind(4, s.firstTime);
    save.bind(5, s.lastTime);
    for (int i = 0; i < 2; ++i) {
        const auto& wall = i == 0 ? s.firstWall : s.lastWall;
        if (wall)
            save.bind(6 + i, *wall);
        else
            save.bindNull(6 + i);
    }
    save.bind(8, s.longestGapSeconds);
    save.bind(9, s.stepBacks);
    save.bind(10, totalsText(s.totals));
    save.bind(11, s.firstId);
    save.bind(12, s.lastId);
    save.step();
    return !save.failed();
}

// Replaces the day's hours (all of them when `replaceAll`, else those in `hours`).
bool saveDayHours(Database& db, const DayMeter& key, const DayHours& hours, bool replaceAll) {
    if (replaceAll) {
        const auto end = prefixEnd(key.first);
        Statement erase(db,
                        std::string("DELETE FROM Historyhour WHERE MeterID = ?1 AND Hour >= ?2") +
                            (end ? " AND Hour < ?3" : "") + " AND substr(Hour, 1, 10) = ?2");
        erase.bind(1, key.second);
        erase.bind(2, key.first);
        if (end)
            erase.bind(3, *end);
        erase.step();
        if (erase.failed())
            return false;
    }
    Statement save(db, std::string("INSERT OR REPLACE INTO Historyhour (MeterID, Hour, ") +
                           kHourSummaryColumns +
                           ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    for (const auto& [hour, summarizer] : hours) {
        const HourSummary& h = summarizer.summary();
        save.reset();
        save.bind(1, key.second);
        save.bind(2, hour);
        save.bind(3, h.records);
        save.bind(4, h.firstWall);
        save.bind(5, h.lastWall);
        save.bind(6, h.steps);
        save.bind(7, h.longestStep);
        save.bind(8, hourLinesText(h));
        save.bind(9, h.firstId);
        save.bind(10, h.lastId);
        save.step();
        if (save.failed())
            return false;
    }
    return true;
}

// Each meter's open hour: the hour of its latest records, not summed up until it is left.
class OpenHours {
  public:
    explicit OpenHours(Database& db) : db_(db) {
        Statement q(db, "SELECT MeterID, Hour FROM HistoryhourOpen");
        while (q.step())
            open_[q.text(0)] = q.text(1);
        ok_ = !q.failed() && q.ok();
    }

    // A record of the meter's in `hour` was folded in: the hour it leaves is summed up.
    void seen(const std::string& meter, std::string_view hour) {
        std::string& open = open_[meter];
        if (open == hour)
            return;
        if (!open.empty())
            ok_ = ok_ && close(meter, open);
        open = hour;
        changed_.insert(meter);
    }

    bool save() {
        if (changed_.empty())
            return ok_;
        Statement save(db_,
                       "INSERT OR REPLACE INTO HistoryhourOpen (MeterID, Hour) VALUES (?1, ?2)");
        for (const std::string& meter : changed_) {
            save.reset();
            save.bind(1, meter);
            save.bind(2, open_[meter]);
            save.step();
            ok_ = ok_ && !save.failed();
        }
        return ok_;
    }

  private:
    bool close(const std::string& meter, const std::string& hour) {
        if (!rows_) // prepared at the first hour left: most passes leave none
            rows_ = std::make_unique<Statement>(
                db_, "SELECT ID, CreateTime, " + hourColumnsSql() +
                         " FROM Historydata WHERE MeterID = ?1 AND CreateTime >= ?2" +
                         " AND CreateTime < ?3 AND substr(CreateTime, 1, 13) = ?2" + kWrittenOrder);
        Statement& rows = *rows_;
        const auto end = prefixEnd(hour);
        rows.reset();
        rows.bind(1, meter);
        rows.bind(2, hour);
        rows.bind(3, end ? *end : hour);
        DayHours hours;
        while (rows.step())
            addToHour(hours, rows.integer(0), rows.textView(1), hourCellsAt(rows, 2));
        return rows.ok() && !rows.failed() &&
               saveDayHours(db_, {hour.substr(0, 10), meter}, hours, false);
    }

    Database& db_;
    std::unique_ptr<Statement> rows_;
    std::map<std::string, std::string> open_;
    std::set<std::string> changed_;
    bool ok_ = true;
};

bool markStale(Database& db, const DayMeter& key) {
    Statement mark(db, "INSERT OR IGNORE INTO HistorydayStale (Day, MeterID) VALUES (?1, ?2)");
    mark.bind(1, key.first);
    mark.bind(2, key.second);
    mark.step();
    return !mark.failed();
}

struct Progress {
    std::optional<std::string> through; // nothing: every day is summed up
    std::int64_t seenId = 0;
};

std::optional<Progress> readProgress(Database& db) {
    Statement q(db, "SELECT Through, SeenID FROM HistorydayProgress");
    if (!q.step())
        return std::nullopt;
    Progress p;
    if (!q.isNull(0))
        p.through = q.text(0);
    p.seenId = q.integer(1);
    return p;
}

// The day's summary as stored, an empty one when there is none, nothing when it is stale.
// `stored` is openDaySql()'s statement.
std::string openDaySql() {
    return std::string("SELECT EXISTS (SELECT 1 FROM HistorydayStale WHERE Day = ?1 AND "
                       "MeterID = ?2), ") +
           kDaySummaryColumns +
           " FROM (SELECT 1) LEFT JOIN Historyday ON Day = ?1 AND MeterID = ?2";
}

std::optional<DaySummarizer> openDay(Database& db, Statement& stored, const DayMeter& key,
                                     bool& ok) {
    stored.reset();
    stored.bind(1, key.first);
    stored.bind(2, key.second);
    if (!stored.step()) {
        ok = false;
        return std::nullopt;
    }
    if (stored.integer(0) != 0)
        return std::nullopt;
    if (stored.isNull(1))
        return DaySummarizer();
    if (auto summary = readDaySummary(stored, 1))
        return DaySummarizer(std::move(*summary));
    ok = markStale(db, key); // a summary this cannot read is summed up again
    return std::nullopt;
}

bool foldNewRows(Database& db) {
    const auto progress = readProgress(db);
    if (!progress)
        return true; // no summaries in this database (yet)
    Statement rows(db, std::string("SELECT ID, substr(CreateTime, 1, 10), CAST(MeterID AS TEXT), "
                                   "CreateTime, ") +
                           kTotalColumns +
                           ", MeterID IS NOT NULL AND typeof(CreateTime) = 'text'"
                           " FROM Historydata WHERE ID > ?1 ORDER BY ID LIMIT ?2");
    rows.bind(1, progress->seenId);
    rows.bind(2, std::int64_t{kRowsPerFold});
    std::map<DayMeter, std::optional<DaySummarizer>> days;
    Statement stored(db, openDaySql());
    OpenHours openHours(db);
    bool ok = stored.ok();
    std::int64_t seen = progress->seenId;
    while (ok && rows.step()) {
        seen = rows.integer(0);
        if (rows.integer(8) == 0)
            continue; // a record of no meter or no text time is in no range
        DayMeter key{rows.text(1), rows.text(2)};
        if (progress->through && key.first >= *progress->through)
            continue; // the build gets there
        auto day = days.find(key);
        if (day == days.end())
            day = days.emplace(key, openDay(db, stored, key, ok)).first;
        if (!day->second)
            continue;
        const std::string_view time = rows.textView(3);
        day->second->add(seen, time, totalsAt(rows, 4));
        openHours.seen(key.second, time.substr(0, 13));
    }
    if (!ok || rows.failed())
        return false;
    Statement save(db, saveSql());
    for (const auto& [key, day] : days)
        if (day && !saveDaySummary(save, key, day->summary()))
            return false;
    if (!openHours.save())
        return false;
    Statement advance(db, "UPDATE HistorydayProgress SET SeenID = ?1");
    advance.bind(1, seen);
    advance.step();
    return !advance.failed();
}

// One row of a day read whole before it is summed up.
struct DayRow {
    std::int64_t id = 0;
    std::string meter, time;
    std::array<std::string, kEnergyTotals> totals;
    std::array<std::string, kHourColumns> cells;
};

template <std::size_t N>
std::array<std::string_view, N> viewsOf(const std::array<std::string, N>& texts) {
    std::array<std::string_view, N> views;
    std::copy(texts.begin(), texts.end(), views.begin());
    return views;
}

// Sums up the day's rows per meter, and their hours, in written order; empties `rows`.
void sumUpDay(const std::string& day, std::vector<DayRow>& rows,
              std::map<DayMeter, DaySummarizer>& done, std::map<DayMeter, DayHours>& hours) {
    std::sort(rows.begin(), rows.end(),
              [](const DayRow& a, const DayRow& b) { return a.id < b.id; });
    for (const DayRow& row : rows) {
        const DayMeter key{day, row.meter};
        done[key].add(row.id, row.time, viewsOf(row.totals));
        addToHour(hours[key], row.id, row.time, viewsOf(row.cells));
    }
    rows.clear();
}

// One step of summing up the days from `through` on: true when it got to the end.
bool buildStep(Database& db, const std::string& through, int rowsPerStep, Rebuilt& rebuilt,
               bool& ok) {
    // The days one after the other through the index; each day's rows are summed up in
    // written order once the day is read whole.
    Statement rows(db, std::string("SELECT substr(CreateTime, 1, 10), ID, CAST(MeterID AS TEXT), "
                                   "CreateTime, ") +
                           kTotalColumns + ", " + hourColumnsSql() +
                           " FROM Historydata WHERE CreateTime >= ?1 AND typeof(CreateTime) = "
                           "'text' ORDER BY CreateTime");
    rows.bind(1, through);
    std::map<DayMeter, DaySummarizer> done;
    std::map<DayMeter, DayHours> hours;
    std::vector<DayRow> current;
    std::string day;
    std::optional<std::string> next;
    int count = 0;
    while (rows.step()) {
        const std::string_view rowDay = rows.textView(0);
        if (rowDay != day) {
            sumUpDay(day, current, done, hours);
            if (count >= rowsPerStep) {
                next = std::string(rowDay);
                break;
            }
            day = rowDay;
        }
        ++count;
        if (rows.isNull(2))
            continue;
        DayRow& row = current.emplace_back();
        row.id = rows.integer(1);
        row.meter = rows.text(2);
        row.time = rows.text(3);
        for (int c = 0; c < kEnergyTotals; ++c)
            row.totals[c] = rows.textView(4 + c);
        for (int c = 0; c < kHourColumns; ++c)
            row.cells[c] = rows.textView(4 + kEnergyTotals + c);
    }
    if (rows.failed())
        return ok = false;
    if (!next)
        sumUpDay(day, current, done, hours);
    for (const char* table : {"Historyday", "HistorydayStale"}) {
        Statement clear(db, std::string("DELETE FROM ") + table + " WHERE Day >= ?1" +
                                (next ? " AND Day < ?2" : ""));
        clear.bind(1, through);
        if (next)
            clear.bind(2, *next);
        clear.step();
        if (clear.failed())
            return ok = false;
    }
    // Hours are kept by meter: each meter's hours of those days, hopping from meter to meter.
    Statement clearHours(db, std::string("WITH RECURSIVE meter(id) AS (SELECT min(MeterID) FROM "
                                         "Historyhour UNION ALL SELECT (SELECT min(MeterID) FROM "
                                         "Historyhour WHERE MeterID > id) FROM meter WHERE id IS "
                                         "NOT NULL) DELETE FROM Historyhour WHERE MeterID IN "
                                         "(SELECT id FROM meter) AND Hour >= ?1 AND substr(Hour, "
                                         "1, 10) >= ?1") +
                                 (next ? " AND substr(Hour, 1, 10) < ?2" : ""));
    clearHours.bind(1, through);
    if (next)
        clearHours.bind(2, *next);
    clearHours.step();
    if (clearHours.failed())
        return ok = false;
    // Those days' hours are summed up whole now.
    Statement reopen(db,
                     std::string("DELETE FROM HistoryhourOpen WHERE substr(Hour, 1, 10) >= ?1") +
                         (next ? " AND substr(Hour, 1, 10) < ?2" : ""));
    reopen.bind(1, through);
    if (next)
        reopen.bind(2, *next);
    reopen.step();
    if (reopen.failed())
        return ok = false;
    Statement save(db, saveSql());
    for (const auto& [key, summarizer] : done) {
        if (!saveDaySummary(save, key, summarizer.summary()))
            return ok = false;
        rebuilt.add(key);
    }
    for (const auto& [key, dayHours] : hours)
        if (done.contains(key) && !saveDayHours(db, key, dayHours, false))
            return ok = false;
    Statement advance(db, "UPDATE HistorydayProgress SET Through = ?1");
    if (next)
        advance.bind(1, *next);
    else
        advance.bindNull(1);
    advance.step();
    ok = !advance.failed();
    return !next;
}

// Sums up to kStaleDaysPerStep stale days again: true when none is left.
bool refreshStep(Database& db, Rebuilt& rebuilt, bool& ok) {
    std::vector<DayMeter> stale;
    {
        Statement q(db, "SELECT Day, MeterID FROM HistorydayStale LIMIT ?1");
        q.bind(1, std::int64_t{kStaleDaysPerStep});
        while (q.step())
            stale.emplace_back(q.text(0), q.text(1));
        if (q.failed())
            return !(ok = false);
    }
    for (const DayMeter& key : stale) {
        std::map<std::string, HourSummarizer> hours;
        const auto summary = summarizeDayRows(db, key.first, key.second, nullptr, &hours);
        if (!summary || !saveDayHours(db, key, hours, true))
            return !(ok = false);
        if (summary->records > 0) {
            Statement save(db, saveSql());
            if (!saveDaySummary(save, key, *summary))
                return !(ok = false);
        } else {
            Statement erase(db, "DELETE FROM Historyday WHERE Day = ?1 AND MeterID = ?2");
            erase.bind(1, key.first);
            erase.bind(2, key.second);
            erase.step();
            if (erase.failed())
                return !(ok = false);
        }
        Statement done(db, "DELETE FROM HistorydayStale WHERE Day = ?1 AND MeterID = ?2");
        done.bind(1, key.first);
        done.bind(2, key.second);
        done.step();
        if (done.failed())
            return !(ok = false);
        rebuilt.add(key);
    }
    return stale.size() < static_cast<std::size_t>(kStaleDaysPerStep);
}

// The journal's entry of a build that summed days up, in the open transaction; a build that
// found nothing to do writes none.
bool noteRebuilt(Database& db, const Rebuilt& rebuilt) {
    if (rebuilt.summaries == 0)
        return true;
    const std::string detail = *rebuilt.days.begin() + "至" + *rebuilt.days.rbegin() + ",共" +
                               std::to_string(rebuilt.days.size()) + "天," +
                               std::to_string(rebuilt.summaries) + "条日汇总";
    return insertEvents(
        db, {{localTimeNow(), utcTimeNow(), 0, "summaries", "note", "日汇总已重建", detail, ""}});
}

} // namespace

std::optional<DaySummary> readDaySummary(const Statement& row, int c) {
    auto totals = totalsFromText(row.textView(c + 7));
    if (!totals)
        return std::nullopt;
    DaySummary s;
    s.records = row.integer(c);
    s.firstTime = row.text(c + 1);
    s.lastTime = row.text(c + 2);
    if (!row.isNull(c + 3))
        s.firstWall = row.integer(c + 3);
    if (!row.isNull(c + 4))
        s.lastWall = row.integer(c + 4);
    s.longestGapSeconds = row.integer(c + 5);
    s.stepBacks = row.integer(c + 6);
    s.totals = *totals;
    s.firstId = row.integer(c + 8);
    s.lastId = row.integer(c + 9);
    return s;
}

std::optional<HourSummary> readHourSummary(const Statement& row, int c, std::uint32_t columns) {
    HourSummary h;
    h.records = row.integer(c);
    h.firstWall = row.integer(c + 1);
    h.lastWall = row.integer(c + 2);
    h.steps = row.integer(c + 3);
    h.longestStep = row.integer(c + 4);
    h.firstId = row.integer(c + 6);
    h.lastId = row.integer(c + 7);
    if (!readHourLines(row.textView(c + 5), h, columns))
        return std::nullopt;
    return h;
}

std::optional<std::string> prefixEnd(std::string prefix) {
    while (!prefix.empty() && static_cast<unsigned char>(prefix.back()) == 0xff)
        prefix.pop_back();
    if (prefix.empty())
        return std::nullopt;
    prefix.back() = static_cast<char>(static_cast<unsigned char>(prefix.back()) + 1);
    return prefix;
}

std::optional<DaySummary> summarizeDayRows(Database& db, const std::string& day,
                                           const std::string& meter, LocalSeconds* realTime,
                                           std::map<std::string, HourSummarizer>* hours) {
    const auto end = prefixEnd(day);
    Statement rows(db, std::string("SELECT ID, CreateTime, ") + kTotalColumns +
                           (hours ? ", " + hourColumnsSql() : std::string()) +
                           " FROM Historydata WHERE MeterID = ?1 AND CreateTime >= ?2" +
                           (end ? " AND CreateTime < ?3" : "") +
                           " AND substr(CreateTime, 1, 10) = ?2" + kWrittenOrder);
    rows.bind(1, meter);
    rows.bind(2, day);
    if (end)
        rows.bind(3, *end);
    DaySummarizer summarizer(realTime);
    while (rows.step()) {
        summarizer.add(rows.integer(0), rows.textView(1), totalsAt(rows, 2));
        if (hours)
            addToHour(*hours, rows.integer(0), rows.textView(1), hourCellsAt(rows, 6));
    }
    if (rows.failed())
        return std::nullopt;
    return summarizer.summary();
}

bool addNewRowsToDaySummaries(Database& db) {
    if (!db.exec("SAVEPOINT day_summaries"))
        return false;
    if (foldNewRows(db))
        return db.exec("RELEASE day_summaries");
    const std::string why = db.error();
    db.exec("ROLLBACK TO day_summaries; RELEASE day_summaries");
    db.setError(why);
    return false;
}

std::optional<std::string> buildDaySummaries(const std::string& path,
                                             const std::atomic<bool>* cancel, int busyTimeoutMs,
                                             int rowsPerStep) {
    Database db(path, busyTimeoutMs, Database::Locking::OneThread);
    if (!db.isOpen())
        return db.error();
    bool ok = true;
    int waits = 0;
    Rebuilt rebuilt;
    for (bool finished = false; !finished;) {
        if (cancel && cancel->load()) {
            // What was summed up before the stop is kept, and said.
            if (rebuilt.summaries == 0 ||
                (db.exec("BEGIN IMMEDIATE") && noteRebuilt(db, rebuilt) && db.exec("COMMIT")))
                return std::nullopt;
            const std::string why = db.error();
            db.exec("ROLLBACK");
            return why;
        }
        if (!db.exec("BEGIN IMMEDIATE")) {
            // Another writer (a prune, a backup's restore) may hold the file a while.
            if (++waits > kBusyWaits)
                return db.error();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            continue;
        }
        waits = 0;
        if (!foldNewRows(db)) {
            const std::string why = db.error();
            db.exec("ROLLBACK");
            return why;
        }
        const auto progress = readProgress(db);
        if (!progress) {
            db.exec("ROLLBACK");
            return std::nullopt; // a database without summaries
        }
        if (progress->through)
            buildStep(db, *progress->through, rowsPerStep, rebuilt, ok);
        else
            finished = refreshStep(db, rebuilt, ok);
        // The last step's transaction says what the whole build summed up.
        if (ok && finished)
            ok = noteRebuilt(db, rebuilt);
        if (!ok || !db.exec("COMMIT")) {
            const std::string why = db.error();
            db.exec("ROLLBACK");
            return why;
        }
    }
    return std::nullopt;
}

} // namespace mirv
