#include "local_history.h"

#include "copy_text.h"
#include "database.h"
#include "date_time_text.h"
#include "local_instant.h"
#include "reading_text.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
#include <sqlite3.h>
#include <vector>

namespace mirv {

namespace {

// ID, then the 12 texts the fingerprint covers.
constexpr const char* kRowColumns =
    "SELECT ID, MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, TXTctemperature2, "
    "TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, CreateTime";
constexpr int kMeterColumn = 1;
constexpr int kFirstReading = 2;
constexpr int kReadings = 9;
constexpr int kAlarmColumn = 11;
constexpr int kTimeColumn = 12;

// A row's repeat is the count of earlier rows of its meter with the same CreateTime. Counting
// them needs an index that starts with MeterID or CreateTime; the station creates both at
// start-up. Without one each count would scan the table, so rows are then taken as the first
// of their second.
bool hasTimeIndex(Database& db) {
    Statement q(db, "SELECT 1 FROM pragma_index_list('Historydata') l, pragma_index_info(l.name) i "
                    "WHERE i.seqno = 0 AND i.name IN ('MeterID', 'CreateTime')");
    return q.step();
}

// Each meter of the batch (the rows after ?1, ?2 at most) with the span of its times.
constexpr const char* kBatchSpans =
    "SELECT MeterID, min(CreateTime), max(CreateTime) FROM (SELECT MeterID, CreateTime "
    "FROM Historydata WHERE ID > ?1 ORDER BY ID LIMIT ?2) WHERE MeterID IS NOT NULL "
    "AND CreateTime IS NOT NULL GROUP BY MeterID";
// The rows up to the mark of one meter within such a span, by time.
constexpr const char* kEarlierRows =
    "SELECT CreateTime, count(*) FROM Historydata WHERE MeterID = ?1 AND CreateTime BETWEEN ?2 "
    "AND ?3 AND ID <= ?4 GROUP BY CreateTime";
// The earlier rows of one row's meter and time, counted one by one.
constexpr const char* kEarlierOfRow =
    "SELECT count(*) FROM Historydata WHERE MeterID = ?1 AND CreateTime = ?2 AND ID < ?3";

// The repeats of a batch's rows in one pass in ID order. Those up to the mark are read once
// per batch (the spans of its meters' times hold them). A row later than every row of its
// meter before it in the batch repeats none of them; only a row that is not (the clock was
// set back) has its earlier rows counted one by one.
class RepeatCounter {
  public:
    explicit RepeatCounter(Database& db) : db_(db), ofRow_(db, kEarlierOfRow) {}

    // False when the database failed.
    bool start(std::int64_t mark, int maxRows) {
        Statement spans(db_, kBatchSpans);
        spans.bind(1, mark);
        spans.bind(2, std::int64_t{maxRows});
        Statement earlier(db_, kEarlierRows);
        while (spans.step()) {
            earlier.reset();
            earlier.bind(1, spans.textView(0));
            earlier.bind(2, spans.textView(1));
            earlier.bind(3, spans.textView(2));
            earlier.bind(4, mark);
            while (earlier.step())
                beforeMark_
                    [std::string(spans.textView(0)).append(1, '\0').append(earlier.textView(0))] =
                        static_cast<int>(earlier.integer(1));
            if (earlier.failed())
                return false;
        }
        return !spans.failed();
    }

    // The row's repeat; nullopt when the database failed.
    std::optional<int> next(const Statement& row) {
        if (row.isNull(kMeterColumn) || row.isNull(kTimeColumn))
            return 0; // equal to no row
        const std::string_view meter = row.textView(kMeterColumn);
        const std::string_view time = row.textView(kTimeColumn);
        auto latest = std::find_if(latest_.begin(), latest_.end(),
                                   [&](const auto& m) { return m.first == meter; });
        if (latest == latest_.end()) {
            latest_.emplace_back(std::string(meter), std::string(time));
        } else if (time > latest->second) {
            latest->second.assign(time);
        } else {
            ofRow_.reset();
            ofRow_.bind(1, meter);
            ofRow_.bind(2, time);
            ofRow_.bind(3, row.integer(0));
            if (!ofRow_.step())
                return std::nullopt;
            return static_cast<int>(ofRow_.integer(0));
        }
        if (beforeMark_.empty())
            return 0;
        const auto held = beforeMark_.find(std::string(meter).append(1, '\0').append(time));
        return held == beforeMark_.end() ? 0 : held->second;
    }

  private:
    Database& db_;
    Statement ofRow_;
    std::map<std::string, int> beforeMark_;
    std::vector<std::pair<std::string, std::string>> latest_; // each meter's latest time
};

// Linkstats by rowid: the station writes a row once per meter and hour, also late (from its
// retry queue) for an older hour, always under a rowid above those there.
constexpr const char* kLinkstatsColumns =
    "SELECT rowid, MeterID, Hour, Requests, Answers, Misses, CrcWrong, TooShort, TooLong, "
    "Trailing, WrongFunction, WrongAddress, ResponseMeanUs, ResponseMaxUs FROM Linkstats";
constexpr int kHourColumn = 2;
constexpr int kFirstCount = 3;
constexpr int kLastLinkstatsColumn = 13;

// The journal by ID, which is its true order.
constexpr const char* kEventColumns = "SELECT ID, CreateTime, UtcTime, MeterID, Kind, Phase, "
                                      "Text, Detail, User FROM Events";
constexpr int kEventTimeColumn = 1;
constexpr int kEventUtcColumn = 2;
constexpr int kEventMeterColumn = 3;
constexpr int kEventKindColumn = 4;
constexpr int kLastEventColumn = 8;

// FNV-1a over the texts of columns `first`..`last`, NULL told from empty.
std::uint64_t rowHash(const Statement& row, int first = kMeterColumn, int last = kTimeColumn) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    const auto mix = [&h](unsigned char byte) {
        h ^= byte;
        h *= 0x100000001b3ULL;
    };
    for (int c = first; c <= last; ++c) {
        if (row.isNull(c)) {
            mix(0xFE);
        } else {
            for (const char ch : row.textView(c))
                mix(static_cast<unsigned char>(ch));
        }
        mix(0xFF);
    }
    return h;
}

void appendNumber(std::string& out, long long n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

LocalBatch failure(LocalBatch::Outcome outcome, std::string error) {
    LocalBatch batch;
    batch.outcome = outcome;
    batch.error = std::move(error);
    return batch;
}

LocalBatch failureOf(Database& db) {
    const int code = db.handle() ? sqlite3_errcode(db.handle()) : SQLITE_CANTOPEN;
    const bool locked = code == SQLITE_BUSY || code == SQLITE_LOCKED;
    return failure(locked ? LocalBatch::Outcome::Locked : LocalBatch::Outcome::Unreadable,
                   db.error());
}

// Appends the row's COPY line, or counts it as unforwardable.
void takeRow(const Statement& row, int repeatCount, LocalBatch& batch, LocalInstants& instants) {
    ++batch.rowsRead;
    const std::int64_t id = row.integer(0);
    const auto meter = meterNumber(row.textView(kMeterColumn));
    const auto time = parseDateTimeText(row.textView(kTimeColumn));
    if (!meter || !time) {
        if (batch.unforwardableRows++ == 0)
            batch.firstUnforwardable =
                "ID " + std::to_string(id) + ": " +
                (!meter ? "MeterID '" + row.text(kMeterColumn) + "' is not a meter number"
                        : "CreateTime '" + row.text(kTimeColumn) + "' is not a date and time");
        return;
    }
    std::string& out = batch.copyRows;
    appendNumber(out, id);
    out += '\t';
    appendNumber(out, *meter);
    for (int c = kFirstReading; c < kFirstReading + kReadings; ++c) {
        out += '\t';
        if (const auto number = numericReading(row.textView(c)))
            out += *number;
        else
            appendCopyNull(out);
    }
    out += '\t';
    if (row.isNull(kAlarmColumn))
        appendCopyNull(out);
    else
        appendCopyText(out, row.textView(kAlarmColumn));
    out += '\t';
    out += *time;
    out += '\t';
    const int repeat = std::min(repeatCount, 32767);
    appendNumber(out, repeat);
    out += '\t';
    if (const auto epoch = instants.epochOf(*time, repeat))
        appendNumber(out, *epoch);
    else
        appendCopyNull(out);
    out += '\t';
    // The key's texts when they are not in the stored form, so that a reading keyed the same
    // from other texts is told from the one the server holds.
    const std::string_view meterText = row.textView(kMeterColumn);
    const std::string_view timeText = row.textView(kTimeColumn);
    char digits[16];
    const std::string_view meterForm(
        digits, std::to_chars(digits, digits + sizeof digits, *meter).ptr - digits);
    if (meterText == meterForm && timeText == *time)
        appendCopyNull(out);
    else
        appendCopyText(out, "MeterID '" + std::string(meterText) + "', CreateTime '" +
                                std::string(timeText) + "'");
    out += '\n';
    ++batch.rowsForwardable;
}

// Appends the Linkstats row's COPY line: meter_id, hour and the eleven counts; or counts it as
// unforwardable.
void takeLinkstatsRow(const Statement& row, LocalBatch& batch) {
    ++batch.rowsRead;
    const auto meter = meterNumber(row.textView(kMeterColumn));
    const auto hour = parseDateTimeText(row.textView(kHourColumn));
    if (!meter || !hour) {
        if (batch.unforwardableRows++ == 0)
            batch.firstUnforwardable =
                "rowid " + std::to_string(row.integer(0)) + ": " +
                (!meter ? "MeterID '" + row.text(kMeterColumn) + "' is not a meter number"
                        : "Hour '" + row.text(kHourColumn) + "' is not a date and time");
        return;
    }
    std::string& out = batch.copyRows;
    appendNumber(out, *meter);
    out += '\t';
    out += *hour;
    for (int c = kFirstCount; c <= kLastLinkstatsColumn; ++c) {
        out += '\t';
        if (row.isNull(c))
            appendCopyNull(out);
        else
            appendNumber(out, row.integer(c));
    }
    out += '\n';
    ++batch.rowsForwardable;
}

// UtcTime in its stored form 'YYYY-MM-DDTHH:MM:SSZ' as a UTC timestamptz text; nothing else.
std::optional<std::string> utcInstantText(std::string_view text) {
    if (text.size() != 20 || text[10] != 'T' || text[19] != 'Z')
        return std::nullopt;
    const std::string local =
        std::string(text.substr(0, 10)) + " " + std::string(text.substr(11, 8));
    const auto parsed = parseDateTimeText(local);
    if (!parsed || *parsed != local)
        return std::nullopt;
    return local + "+00";
}

// Appends the event's COPY line, or counts it as unforwardable.
void takeEventRow(const Statement& row, LocalBatch& batch) {
    ++batch.rowsRead;
    const std::int64_t id = row.integer(0);
    const auto meter = meterNumber(row.textView(kEventMeterColumn));
    const auto time = parseDateTimeText(row.textView(kEventTimeColumn));
    if (!meter || !time) {
        if (batch.unforwardableRows++ == 0)
            batch.firstUnforwardable =
                "ID " + std::to_string(id) + ": " +
                (!meter ? "MeterID '" + row.text(kEventMeterColumn) + "' is not a meter number"
                        : "CreateTime '" + row.text(kEventTimeColumn) + "' is not a date and time");
        return;
    }
    std::string& out = batch.copyRows;
    appendNumber(out, id);
    out += '\t';
    out += *time;
    out += '\t';
    if (const auto utc = utcInstantText(row.textView(kEventUtcColumn)))
        out += *utc;
    else
        appendCopyNull(out);
    out += '\t';
    appendNumber(out, *meter);
    constexpr std::size_t bounds[] = {EventTextBounds::kind, EventTextBounds::phase,
                                      EventTextBounds::text, EventTextBounds::detail,
                                      EventTextBounds::user};
    for (int c = kEventKindColumn; c <= kLastEventColumn; ++c) {
        out += '\t';
        appendCopyText(out, row.textView(c), bounds[c - kEventKindColumn]);
    }
    out += '\n';
    ++batch.rowsForwardable;
}

// Whether the file has the table; nullopt when the database failed.
std::optional<bool> hasTable(Database& db, std::string_view name) {
    Statement table(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    table.bind(1, name);
    const bool found = table.step();
    if (table.failed())
        return std::nullopt;
    return found;
}

} // namespace

LocalHistory::LocalHistory(std::string databasePath, int busyTimeoutMs)
    : databasePath_(std::move(databasePath)), busyTimeoutMs_(busyTimeoutMs) {}

std::optional<LocalBatch> LocalHistory::beginReading(std::unique_ptr<Database>& db) const {
    std::error_code ec;
    if (!std::filesystem::exists(databasePath_, ec))
        return failure(LocalBatch::Outcome::Missing, "no file " + databasePath_);
    // Each read has a connection of its own, used by one thread.
    db = std::make_unique<Database>(databasePath_, busyTimeoutMs_, Database::Locking::OneThread,
                                    Database::Access::ReadOnly);
    if (!db->isOpen())
        return failureOf(*db);
    // Closing as the last connection would otherwise take the file's exclusive lock for a
    // checkpoint, which only the station should run.
    sqlite3_db_config(db->handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (!db->exec("BEGIN"))
        return failureOf(*db);
    return std::nullopt;
}

LocalBatch LocalHistory::readAfter(const ForwardMark& mark, int maxRows) const {
    std::unique_ptr<Database> connection;
    if (auto failed = beginReading(connection))
        return std::move(*failed);
    Database& db = *connection;
    const bool indexed = hasTimeIndex(db);
    LocalBatch batch;
    if (mark.localId > 0) {
        Statement markRow(db, std::string(kRowColumns) + " FROM Historydata WHERE ID = ?1");
        markRow.bind(1, mark.localId);
        const bool found = markRow.step();
        if (markRow.failed())
            return failureOf(db);
        if (!found || rowHash(markRow) != mark.rowHash) {
            batch.outcome = LocalBatch::Outcome::HistoryChanged;
            return batch;
        }
    }
    RepeatCounter repeats(db);
    if (indexed && !repeats.start(mark.localId, maxRows))
        return failureOf(db);
    Statement rows(db, std::string(kRowColumns) +
                           " FROM Historydata WHERE ID > ?1 ORDER BY ID LIMIT ?2");
    rows.bind(1, mark.localId);
    rows.bind(2, std::int64_t{maxRows});
    batch.copyRows.reserve(static_cast<std::size_t>(maxRows) * 160);
    LocalInstants instants;
    std::int64_t last = 0;
    while (rows.step()) {
        const std::optional<int> repeat = indexed ? repeats.next(rows) : 0;
        if (!repeat)
            return failureOf(db);
        takeRow(rows, *repeat, batch, instants);
        last = rows.integer(0);
    }
    if (rows.failed())
        return failureOf(db);
    // Only the last row's fingerprint is kept: read again by its ID rather than hashing each.
    if (last > 0) {
        Statement end(db, std::string(kRowColumns) + " FROM Historydata WHERE ID = ?1");
        end.bind(1, last);
        if (!end.step())
            return failureOf(db);
        batch.end = {last, rowHash(end)};
    }
    db.exec("COMMIT");
    batch.outcome = batch.rowsRead > 0 ? LocalBatch::Outcome::Rows : LocalBatch::Outcome::UpToDate;
    return batch;
}

LocalBatch LocalHistory::readLinkstatsAfter(const ForwardMark& mark, int maxRows) const {
    std::unique_ptr<Database> connection;
    if (auto failed = beginReading(connection))
        return std::move(*failed);
    Database& db = *connection;
    LocalBatch batch;
    const auto there = hasTable(db, "Linkstats");
    if (!there)
        return failureOf(db);
    if (!*there) {
        // A file the station has not opened since it began keeping the line's health.
        batch.outcome =
            mark.localId > 0 ? LocalBatch::Outcome::HistoryChanged : LocalBatch::Outcome::UpToDate;
        return batch;
    }
    if (mark.localId > 0) {
        Statement markRow(db, std::string(kLinkstatsColumns) + " WHERE rowid = ?1");
        markRow.bind(1, mark.localId);
        const bool found = markRow.step();
        if (markRow.failed())
            return failureOf(db);
        if (!found || rowHash(markRow, kMeterColumn, kLastLinkstatsColumn) != mark.rowHash) {
            batch.outcome = LocalBatch::Outcome::HistoryChanged;
            return batch;
        }
    }
    Statement rows(db,
                   std::string(kLinkstatsColumns) + " WHERE rowid > ?1 ORDER BY rowid LIMIT ?2");
    rows.bind(1, mark.localId);
    rows.bind(2, std::int64_t{maxRows});
    while (rows.step()) {
        takeLinkstatsRow(rows, batch);
        batch.end = {rows.integer(0), rowHash(rows, kMeterColumn, kLastLinkstatsColumn)};
    }
    if (rows.failed())
        return failureOf(db);
    db.exec("COMMIT");
    batch.outcome = batch.rowsRead > 0 ? LocalBatch::Outcome::Rows : LocalBatch::Outcome::UpToDate;
    return batch;
}

LocalBatch LocalHistory::readEventsAfter(const ForwardMark& mark, int maxRows) const {
    std::unique_ptr<Database> connection;
    if (auto failed = beginReading(connection))
        return std::move(*failed);
    Database& db = *connection;
    LocalBatch batch;
    const auto there = hasTable(db, "Events");
    if (!there)
        return failureOf(db);
    if (!*there) {
        // A file the station has not written an event to since it began keeping the journal.
        batch.outcome =
            mark.localId > 0 ? LocalBatch::Outcome::HistoryChanged : LocalBatch::Outcome::UpToDate;
        return batch;
    }
    if (mark.localId > 0) {
        Statement markRow(db, std::string(kEventColumns) + " WHERE ID = ?1");
        markRow.bind(1, mark.localId);
        const bool found = markRow.step();
        if (markRow.failed())
            return failureOf(db);
        if (!found || rowHash(markRow, kEventTimeColumn, kLastEventColumn) != mark.rowHash) {
            batch.outcome = LocalBatch::Outcome::HistoryChanged;
            return batch;
        }
    }
    Statement rows(db, std::string(kEventColumns) + " WHERE ID > ?1 ORDER BY ID LIMIT ?2");
    rows.bind(1, mark.localId);
    rows.bind(2, std::int64_t{maxRows});
    while (rows.step()) {
        takeEventRow(rows, batch);
        batch.end = {rows.integer(0), rowHash(rows, kEventTimeColumn, kLastEventColumn)};
    }
    if (rows.failed())
        return failureOf(db);
    db.exec("COMMIT");
    batch.outcome = batch.rowsRead > 0 ? LocalBatch::Outcome::Rows : LocalBatch::Outcome::UpToDate;
    return batch;
}

} // namespace mirv
