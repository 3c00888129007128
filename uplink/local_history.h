#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace mirv {

class Database;

// The last local row forwarded: its ID (of Linkstats, its rowid) and a fingerprint of its
// texts; {0, 0} before the first.
struct ForwardMark {
    std::int64_t localId = 0;
    std::uint64_t rowHash = 0;
    bool operator==(const ForwardMark&) const = default;
};

// The longest texts of an event the server keeps, in characters; longer ones are cut.
struct EventTextBounds {
    static constexpr std::size_t kind = 64;
    static constexpr std::size_t phase = 16;
    static constexpr std::size_t text = 1000;
    static constexpr std::size_t detail = 4000;
    static constexpr std::size_t user = 128;
};

// Rows of Historydata (or of Linkstats) read for forwarding, already in the form the server
// copies in.
struct LocalBatch {
    enum class Outcome {
        Rows,           // rows were read (possibly none forwardable)
        UpToDate,       // nothing after the mark
        HistoryChanged, // the mark's row is gone or another: purged, restored or replaced
        Missing,        // no database file
        Locked,         // another connection holds it too long
        Unreadable,     // not a station database, or damaged
    };
    Outcome outcome = Outcome::UpToDate;
    std::string error; // why, for Missing, Locked and Unreadable

    // One line per forwardable row in COPY text format, in ID order: local_id, meter_id, the
    // nine readings, alarm_status, create_time, time_repeat, create_epoch (the instant in
    // seconds since 1970 UTC, create_time read in the process's time zone) and source_key (the
    // key's texts when not in their stored form). Of Linkstats, in rowid order: meter_id, hour
    // and the eleven counts as the table orders them. Of Events, in ID order: local_id,
    // local_time, utc_time (NULL when UtcTime is not in its stored form), meter_id, kind, phase,
    // text, detail and user_name, each text cut to what the server keeps (EventTextBounds).
    std::string copyRows;
    int rowsRead = 0;
    int rowsForwardable = 0;
    ForwardMark end; // the last row read

    // Rows read whose MeterID or CreateTime has no central form; the first one described.
    int unforwardableRows = 0;
    std::string firstUnforwardable;
};

// The station's history file as the uplink sees it: only read, a connection per read, each
// read one short transaction so the station's checkpoints are never held up for long.
class LocalHistory {
  public:
    explicit LocalHistory(std::string databasePath, int busyTimeoutMs = 1000);

    const std::string& databasePath() const { return databasePath_; }

    // Up to `maxRows` rows after `mark`, in ID order. When `mark`'s row is no longer the row
    // that was forwarded, reads nothing and says HistoryChanged: the caller starts again from
    // the first row and lets the server drop what it has already.
    LocalBatch readAfter(const ForwardMark& mark, int maxRows) const;

    // The same for Linkstats, by rowid: a row written late for an older hour comes after the
    // mark all the same. A file without the table has nothing to forward.
    LocalBatch readLinkstatsAfter(const ForwardMark& mark, int maxRows) const;

    // The same for the station's event journal (Events), by ID. A file without the table has
    // nothing to forward.
    LocalBatch readEventsAfter(const ForwardMark& mark, int maxRows) const;

  private:
    // Opens the file read-only into `db` and begins a read transaction; a batch saying why
    // not when it cannot.
    std::optional<LocalBatch> beginReading(std::unique_ptr<Database>& db) const;
    std::string databasePath_;
    int busyTimeoutMs_;
};

} // namespace mirv
