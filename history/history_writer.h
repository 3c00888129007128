#pragma once

#include "event_journal.h"
#include "event_spool.h"
#include "history_record.h"
#include "linkstats.h"
#include "pending_rows.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mirv {

class Database;

// Writes history records into Historydata on a thread of its own, so that a database another
// writer holds, a slow disk or a failing file never stalls the event thread. Each write puts
// every waiting record into one transaction, oldest first, on a connection it keeps open
// as long as its writes succeed and the file at the path is the one it opened.
//
// Records that could not be written are appended to the pending rows file beside the database
// (synced), so that they survive a restart and a power cut, and go in first with the next
// write that succeeds: the rows are inserted, committed, and only then is the file removed.
// A crash after the commit leaves the file behind; reading it again skips every row that
// Historydata already holds with the same texts, so no row goes in twice. When not even the
// pending file can be written, the records wait in memory; past a day of them (20 meters a
// minute) the oldest are dropped and counted.
class HistoryWriter {
  public:
    static constexpr std::size_t kMaxQueued = 20 * 1440;

    // Where the rows stand after the last write.
    enum class State {
        Written,         // every row is in Historydata
        Waiting,         // the database could not be written; rows wait in the pending file
        DatabaseMissing, // the same, and the database file is not there
        NotSaved,        // not even the pending file could be written: rows wait in memory only
    };
    // Points of a write where a test can end the program.
    enum class Step { Committed };

    explicit HistoryWriter(std::string databasePath, int busyTimeoutMs = 2000);
    // Calls finish().
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Queues the records and starts a write of everything waiting.
    void write(std::vector<HistoryRecord> records);
    // Queues an hour's Linkstats rows; they go in with the records, in the same transaction,
    // and wait in memory when the database cannot be written (up to a day of hours, not in
    // the pending file: they are the line's health, not the history).
    void writeLinkstats(std::vector<LinkstatsRow> rows);
    // Queues journal events and alarm states; they go in with the next write. When it fails they
    // wait in the journal's spool beside the database (synced, see EventSpool) and go in with
    // the next write that succeeds, before the ones noted later; in memory only when not even
    // the spool can be written (the oldest go past a bound).
    void writeJournal(std::vector<EventRow> events, std::vector<AlarmRow> alarms);
    // Starts a write of the rows an earlier run left in the pending file or the journal's spool,
    // when there are any.
    void writePending();
    // Starts a write of what waits and waits up to `timeout` until every row is in Historydata.
    bool flush(std::chrono::milliseconds timeout);
    // Waits up to `timeout` until no write runs or is due (rows may still be waiting).
    bool waitIdle(std::chrono::milliseconds timeout);
    // Ends the writer after the write in progress; rows that only memory holds go into the
    // pending file if they can. Returns the rows lost: never saved anywhere, or dropped.
    std::uint64_t finish();

    // Rows waiting, in memory and in the pending file.
    std::size_t queued() const;
    std::uint64_t dropped() const;
    // The history rows that had waited for the database, taken in by the write that ended the
    // last time it could not be written.
    std::size_t waited() const;
    // Whether the last write failed and rows are waiting for the next one.
    bool backlog() const;
    State state() const;
    const std::string& pendingPath() const { return pending_.path(); }

    // Called on the writer's thread when state() changes.
    std::function<void(State)> stateChanged;
    // Called on the writer's thread with each connection it opens, before it writes.
    std::function<void(Database&)> connectionOpened;
    // Called on the writer's thread with the number of lines of the pending file that held
    // no complete row (a crash cut them short), once the file's rows are in and it is gone.
    std::function<void(std::size_t)> cutLinesDropped;
    // Called on the writer's thread inside each write's transaction after its rows went in,
    // for what is kept beside them; what it does goes in with the rows.
    std::function<void(Database&)> beforeCommit;
    // Called on the writer's thread at each step of a write; for tests.
    std::function<void(Step)> reached;
    // The pending rows file, whose afterAppend tests may set.
    PendingRowsFile& pendingFile() { return pending_; }
    EventSpool& eventSpool() { return spool_; }

  private:
    struct Entry {
        std::uint64_t seq;
        HistoryRecord record;
        bool maybeInFile = false; // an append of it failed part way
    };

    struct LinkEntry {
        std::uint64_t seq;
        LinkstatsRow row;
    };

    struct JournalEntry {
        std::uint64_t seq;
        JournalBatch batch;
    };

    void run();
    Database* connection();
    bool writeBatch(const std::vector<Entry>& batch, const std::vector<LinkEntry>& linkBatch,
                    const std::vector<JournalEntry>& journalBatch, bool withFile, bool withSpool,
                    std::size_t& fileRows, std::size_t& cutLines);
    bool nothingWaits() const {
        return queue_.empty() && linkQueue_.empty() && journalQueue_.empty() && !fileDue_;
    }
    void saveToFile(std::unique_lock<std::mutex>& lock);
    void saveJournal(std::unique_lock<std::mutex>& lock);
    void setState(State state, std::unique_lock<std::mutex>& lock);

    const std::string databasePath_;
    const int busyTimeoutMs_;
    PendingRowsFile pending_;
    EventSpool spool_; // only the writer's thread, or finish() after it, touches it
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Entry> queue_; // rows only memory holds
    std::deque<LinkEntry> linkQueue_;
    std::deque<JournalEntry> journalQueue_;
    std::size_t inFile_ = 0; // rows the pending file holds, as far as known
    bool fileDue_ = false;   // the pending file or the spool may hold rows not yet written
    std::uint64_t nextSeq_ = 1;
    std::uint64_t dropped_ = 0;
    std::uint64_t failedThrough_ = 0; // the last row queued when a write last failed
    std::size_t waited_ = 0;
    bool due_ = false;
    bool busy_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    std::uint64_t lost_ = 0;
    State state_ = State::Written;
    // The writer thread's connection, kept across writes: opening one anew for each write
    // costs syncs of the WAL and the database. Let go after a write failed.
    std::unique_ptr<Database> db_;
    std::uint64_t dbDevice_ = 0, dbInode_ = 0; // the file db_ has open
    std::thread thread_;
};

} // namespace mirv
