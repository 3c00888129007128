#include "local_history.h"

#include "copy_text.h"
#include "database.h"
#include "date_time_text.h"
#include "local_instant.h"
#include "reading_text.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <sqlite3.h>

namespace mirv {

namespace {

// ID, then the 12 texts the fingerprint covers, then the count of earlier rows of the meter
// with the same CreateTime.
constexpr const char* kRowColumns =
    "SELECT ID, MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, TXTctemperature2, "
    "TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, CreateTime";
constexpr int kMeterColumn = 1;
constexpr int kFirstReading = 2;
constexpr int kReadings = 9;
constexpr int kAlarmColumn = 11;
constexpr int kTimeColumn = 12;
constexpr int kRepeatColumn = 13;

// Counting earlier rows of the same second needs an index that starts with MeterID or
// CreateTime; the station creates both at start-up. Without one the count would scan the
// table per row, so rows are then taken as the first of their second.
constexpr const char* kRepeatCount =
    ", (SELECT count(*) FROM Historydata d WHERE d.MeterID = h.MeterID "
    "AND d.CreateTime = h.CreateTime AND d.ID < h.ID) FROM Historydata h";
constexpr const char* kNoRepeatCount = ", 0 FROM Historydata h";

bool hasTimeIndex(Database& db) {
    Statement q(db, "SELECT 1 FROM pragma_index_list('Historydata') l, pragma_index_info(l.name) i "
                    "WHERE i.seqno = 0 AND i.name IN ('MeterID', 'CreateTime')");
    return q.step();
}

// Linkstats by rowid: the station writes a row once per meter and hour, also late (from its
// retry queue) for an older hour, always under a rowid above those there.
constexpr const char* kLinkstatsColumns =
    "SELECT rowid, MeterID, Hour, Requests, Answers, Misses, CrcWrong, TooShort, TooLong, "
    "Trailing, WrongFunction, WrongAddress, ResponseMeanUs, ResponseMaxUs FROM Linkstats";
constexpr int kHourColumn = 2;
constexpr int kFirstCount = 3;
constexpr int kLastLinkstatsColumn = 13;

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
void takeRow(const Statement& row, LocalBatch& batch, LocalInstants& instants) {
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
    const auto repeat = std::min<std::int64_t>(row.integer(kRepeatColumn), 32767);
    appendNumber(out, repeat);
    out += '\t';
    if (const auto epoch = instants.epochOf(*time, static_cast<int>(repeat)))
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

} // namespace

LocalHistory::LocalHistory(std::string databasePath, int busyTimeoutMs)
    : databasePath_(std::move(databasePath)), busyTimeoutMs_(busyTimeoutMs) {}

std::optional<LocalBatch> LocalHistory::beginReading(std::unique_ptr<Database>& db) const {
    std::error_code ec;
    if (!std::filesystem::exists(databasePath_, ec))
        return failure(LocalBatch::Outcome::Missing, "no file " + databasePath_);
    db = std::make_unique<Database>(databasePath_, busyTimeoutMs_, Database::Access::ReadOnly);
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
    Statement rows(db, std::string(kRowColumns) + (indexed ? kRepeatCount : kNoRepeatCount) +
                           " WHERE h.ID > ?1 ORDER BY h.ID LIMIT ?2");
    rows.bind(1, mark.localId);
    rows.bind(2, std::int64_t{maxRows});
    batch.copyRows.reserve(static_cast<std::size_t>(maxRows) * 160);
    LocalInstants instants;
    std::int64_t last = 0;
    while (rows.step()) {
        takeRow(rows, batch, instants);
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
    Statement table(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'Linkstats'");
    const bool hasTable = table.step();
    if (table.failed())
        return failureOf(db);
    if (!hasTable) {
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

} // namespace mirv
