#include "event_spool.h"

#include "database.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>

namespace mirv {

namespace {

// Each line: the file's name for itself, the row's number, its table and the table's columns.
constexpr std::string_view kHeader = "Spool,Number,Table,C1,C2,C3,C4,C5,C6,C7,C8,Complete";
constexpr std::size_t kFields = 11;

// The last number of each spool file the database took, written with its rows.
constexpr const char* kMarksSql = "CREATE TABLE IF NOT EXISTS EventsSpooled (Spool TEXT PRIMARY "
                                  "KEY, Through INTEGER NOT NULL)";

std::string newName() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

template <typename Number> std::optional<Number> numberOf(const std::string& text) {
    Number n{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

std::vector<std::string> eventLine(const EventRow& e) {
    return {"Events", e.localTime, e.utcTime, std::to_string(e.meter), e.kind, e.phase,
            e.text,   e.detail,    e.user};
}

std::vector<std::string> alarmLine(const AlarmRow& a) {
    return {"Alarms",
            std::to_string(a.meter),
            a.kind,
            a.state,
            std::to_string(a.repeats),
            a.began,
            a.changed,
            a.ackUser,
            a.ackTime};
}

// The last number the database took of each spool file; none when it took none yet.
std::optional<std::string> readMarks(Database& db, std::map<std::string, std::uint64_t>& marks) {
    Statement there(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                        "name = 'EventsSpooled'");
    if (!there.ok())
        return db.error();
    if (!there.step())
        return there.failed() ? std::optional(db.error()) : std::nullopt;
    Statement q(db, "SELECT Spool, Through FROM EventsSpooled");
    if (!q.ok())
        return db.error();
    while (q.step())
        marks[q.text(0)] = static_cast<std::uint64_t>(q.integer(1));
    if (q.failed())
        return db.error();
    return std::nullopt;
}

} // namespace

std::string eventSpoolPath(const std::string& databasePath) {
    return databasePath + "-events.csv";
}

EventSpool::EventSpool(std::string path) : SyncedLinesFile(std::move(path), kHeader, kFields) {}

std::optional<std::string> EventSpool::append(std::vector<JournalBatch>& batches) {
    if (!exists()) {
        name_ = newName();
    } else if (name_.empty()) {
        // A file an earlier run left: its rows go on under its name, after its last number.
        const auto read = readLines([&](std::vector<std::string>& f) {
            name_ = f[0];
            lastNumber_ = std::max(lastNumber_, numberOf<std::uint64_t>(f[1]).value_or(0));
            return true;
        });
        if (read.failure)
            return read.failure;
        if (name_.empty())
            name_ = newName();
    }
    std::vector<std::vector<std::string>> lines;
    for (JournalBatch& b : batches) {
        if (b.firstNumber == 0) {
            b.firstNumber = lastNumber_ + 1;
            lastNumber_ += b.rows();
        }
        lastNumber_ = std::max(lastNumber_, b.firstNumber + b.rows() - 1);
        std::uint64_t number = b.firstNumber;
        auto add = [&](std::vector<std::string> row) {
            row.insert(row.begin(), {name_, std::to_string(number++)});
            lines.push_back(std::move(row));
        };
        for (const EventRow& e : b.events)
            add(eventLine(e));
        for (const AlarmRow& a : b.alarms)
            add(alarmLine(a));
    }
    return appendLines(lines);
}

EventSpool::Unwritten EventSpool::unwritten(Database& db) const {
    Unwritten u;
    std::map<std::string, std::uint64_t> marks;
    if ((u.failure = readMarks(db, marks)))
        return u;
    u.read = readLines([&](std::vector<std::string>& f) {
        const auto number = numberOf<std::uint64_t>(f[1]);
        if (!number) {
            ++u.read.cutLines;
            return true;
        }
        // Rows the database took already, and a row appended again after an append that
        // failed could not be cut back, are there once.
        std::uint64_t& last = u.last[f[0]];
        last = std::max(last, marks[f[0]]);
        if (*number <= last)
            return true;
        if (f[2] == "Events") {
            if (const auto meter = numberOf<int>(f[5])) {
                u.events.push_back({f[3], f[4], *meter, f[6], f[7], f[8], f[9], f[10]});
                last = *number;
                return true;
            }
        } else if (f[2] == "Alarms") {
            const auto meter = numberOf<int>(f[3]);
            const auto repeats = numberOf<int>(f[6]);
            if (meter && repeats) {
                u.alarms.push_back({*meter, f[4], f[5], *repeats, f[7], f[8], f[9], f[10]});
                last = *number;
                return true;
            }
        }
        ++u.read.cutLines;
        return true;
    });
    if (u.read.failure)
        u.failure = u.read.failure;
    return u;
}

bool EventSpool::write(Database& db, const Unwritten& rows) {
    if (rows.last.empty())
        return true;
    if (!insertEvents(db, rows.events) || !storeAlarms(db, rows.alarms) || !db.exec(kMarksSql))
        return false;
    // Only the files read now may be read again.
    if (!db.exec("DELETE FROM EventsSpooled"))
        return false;
    Statement mark(db, "INSERT INTO EventsSpooled (Spool, Through) VALUES (?1, ?2)");
    if (!mark.ok())
        return false;
    for (const auto& [name, last] : rows.last) {
        mark.reset();
        mark.bind(1, name);
        mark.bind(2, static_cast<std::int64_t>(last));
        mark.step();
        if (mark.failed())
            return false;
    }
    return true;
}

} // namespace mirv
