#pragma once

#include "event_journal.h"
#include "synced_lines_file.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mirv {

class Database;

// Journal rows noted together: events and the alarm states that go with them.
struct JournalBatch {
    std::uint64_t firstNumber = 0; // the spool's number of its first row; 0 until spooled
    std::vector<EventRow> events;
    std::vector<AlarmRow> alarms;
    std::size_t rows() const { return events.size() + alarms.size(); }
};

// Journal rows that could not go into the database yet, kept beside it in a synced lines file
// so that a crash or a power cut during an outage loses none. Each row carries the file's
// name for itself (made when the file is made) and a number that grows row by row; the
// database keeps, in the transaction that writes them, the last number of each file it took.
// A file read again after that commit (a crash kept it from being removed) gives only the
// rows past that number, so no row goes in twice. The only reader of its format.
class EventSpool : public SyncedLinesFile {
  public:
    explicit EventSpool(std::string path);

    // Appends the batches' rows and syncs them, numbering the batches not numbered yet after
    // the last number the file holds; a batch keeps its numbers when it is appended again.
    std::optional<std::string> append(std::vector<JournalBatch>& batches);

    // What the file holds that the database at `db` has not taken yet, oldest first.
    struct Unwritten {
        std::vector<EventRow> events;
        std::vector<AlarmRow> alarms;
        std::map<std::string, std::uint64_t> last; // each file name's last number read
        ReadResult read;
        std::optional<std::string> failure; // the file's or the database's
    };
    Unwritten unwritten(Database& db) const;
    // Inserts the rows and keeps their numbers, in the connection's open transaction.
    static bool write(Database& db, const Unwritten& rows);

  private:
    std::string name_;             // the file's name for itself, when known
    std::uint64_t lastNumber_ = 0; // the last number given or read
};

// The journal's spool of the database at `databasePath`.
std::string eventSpoolPath(const std::string& databasePath);

} // namespace mirv
