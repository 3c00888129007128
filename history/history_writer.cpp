#include "history_writer.h"

#include "database.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/stat.h>

namespace mirv {

namespace {

const char* const kColumns = "MeterID, MinuteAverage, Foward, Reverse, Alarmstatus, "
                             "TXTctemperature1, TXTctemperature2, TXTreliang, TXTlengliang, "
                             "TXTleijire_z, TXTleijileng_z, CreateTime";

void bindRecord(Statement& s, const HistoryRecord& r) {
    int i = 0;
    for (const std::string* value :
         {&r.meterId, &r.flow, &r.forwardTotal, &r.reverseTotal, &r.alarmStatus, &r.inletTemp,
          &r.outletTemp, &r.heatPower, &r.coldPower, &r.heatTotal, &r.coldTotal, &r.createTime})
        s.bind(++i, *value);
}

bool fileMissing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

} // namespace

HistoryWriter::HistoryWriter(std::string databasePath, int busyTimeoutMs)
    : databasePath_(std::move(databasePath)), busyTimeoutMs_(busyTimeoutMs),
      pending_(pendingRowsPath(databasePath_)), spool_(eventSpoolPath(databasePath_)),
      thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    finish();
}

void HistoryWriter::write(std::vector<HistoryRecord> records) {
    {
        std::lock_guard lock(mutex_);
        for (auto& r : records)
            queue_.push_back({nextSeq_++, std::move(r)});
        while (queue_.size() > kMaxQueued) {
            queue_.pop_front();
            ++dropped_;
        }
        due_ = true;
    }
    wake_.notify_all();
}

void HistoryWriter::writeLinkstats(std::vector<LinkstatsRow> rows) {
    constexpr std::size_t kMaxLinkQueued = 24 * 256;
    {
        std::lock_guard lock(mutex_);
        for (auto& r : rows)
            linkQueue_.push_back({nextSeq_++, std::move(r)});
        while (linkQueue_.size() > kMaxLinkQueued)
            linkQueue_.pop_front(); // the oldest hour goes
        due_ = true;
    }
    wake_.notify_all();
}

void HistoryWriter::writeJournal(std::vector<EventRow> events, std::vector<AlarmRow> alarms) {
    constexpr std::size_t kMaxJournalQueued = 100000;
    {
        std::lock_guard lock(mutex_);
        journalQueue_.push_back({nextSeq_++, {0, std::move(events), std::move(alarms)}});
        while (journalQueue_.size() > kMaxJournalQueued)
            journalQueue_.pop_front();
        due_ = true;
    }
    wake_.notify_all();
}

void HistoryWriter::writePending() {
    if (!pending_.exists() && !spool_.exists())
        return;
    {
        std::lock_guard lock(mutex_);
        fileDue_ = true;
        due_ = true;
    }
    wake_.notify_all();
}

bool HistoryWriter::flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (nothingWaits())
        return true;
    due_ = true;
    wake_.notify_all();
    return idle_.wait_for(lock, timeout, [this] { return nothingWaits(); });
}

bool HistoryWriter::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return !due_ && !busy_; });
}

std::uint64_t HistoryWriter::finish() {
    std::unique_lock lock(mutex_);
    if (finished_)
        return lost_;
    finished_ = true;
    stopping_ = true;
    lock.unlock();
    wake_.notify_all();
    thread_.join();
    lock.lock();
    saveToFile(lock);
    saveJournal(lock);
    lost_ = dropped_ + queue_.size();
    return lost_;
}

std::size_t HistoryWriter::queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + inFile_;
}

std::size_t HistoryWriter::waited() const {
    std::lock_guard lock(mutex_);
    return waited_;
}

std::uint64_t HistoryWriter::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

bool HistoryWriter::backlog() const {
    std::lock_guard lock(mutex_);
    return state_ != State::Written;
}

HistoryWriter::State HistoryWriter::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void HistoryWriter::setState(State state, std::unique_lock<std::mutex>& lock) {
    if (state_ == state)
        return;
    state_ = state;
    if (stateChanged) {
        lock.unlock();
        stateChanged(state);
        lock.lock();
    }
}

// Appends the rows only memory holds to the pending file; they leave memory once synced.
void HistoryWriter::saveToFile(std::unique_lock<std::mutex>& lock) {
    if (queue_.empty())
        return;
    std::vector<HistoryRecord> rows;
    for (const Entry& e : queue_)
        rows.push_back(e.record);
    const std::uint64_t last = queue_.back().seq;
    lock.unlock();
    const auto failed = pending_.append(rows);
    lock.lock();
    if (failed) {
        // The file was cut back, but should that have failed too, these rows are checked
        // against what the file held once it is read.
        for (Entry& e : queue_)
            e.maybeInFile = true;
        return;
    }
    while (!queue_.empty() && queue_.front().seq <= last)
        queue_.pop_front();
    inFile_ += rows.size();
    fileDue_ = true;
}

// Appends the journal rows only memory holds to the spool; they leave memory once synced.
void HistoryWriter::saveJournal(std::unique_lock<std::mutex>& lock) {
    if (journalQueue_.empty())
        return;
    std::vector<JournalBatch> batches;
    std::vector<std::uint64_t> seqs;
    for (const JournalEntry& e : journalQueue_) {
        batches.push_back(e.batch);
        seqs.push_back(e.seq);
    }
    const std::uint64_t last = seqs.back();
    lock.unlock();
    const auto failed = spool_.append(batches);
    lock.lock();
    if (!failed) {
        while (!journalQueue_.empty() && journalQueue_.front().seq <= last)
            journalQueue_.pop_front();
        fileDue_ = true;
        return;
    }
    // They keep their numbers: should the spool not have been cut back, rows read from it
    // are known by them. Entries dropped meanwhile are gone from the front.
    std::size_t i = 0;
    for (JournalEntry& e : journalQueue_) {
        while (i < seqs.size() && seqs[i] < e.seq)
            ++i;
        if (i == seqs.size())
            break;
        if (seqs[i] == e.seq)
            e.batch.firstNumber = batches[i].firstNumber;
    }
}

void HistoryWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return due_ || stopping_; });
        if (stopping_) {
            db_.reset();
            return;
        }
        due_ = false;
        if (nothingWaits()) {
            idle_.notify_all();
            continue;
        }
        busy_ = true;
        const std::vector<Entry> batch(queue_.begin(), queue_.end());
        const std::vector<LinkEntry> linkBatch(linkQueue_.begin(), linkQueue_.end());
        const std::vector<JournalEntry> journalBatch(journalQueue_.begin(), journalQueue_.end());
        const bool withFile = fileDue_;
        lock.unlock();
        // Journal rows never overtake the ones an earlier run left in the spool.
        const bool withSpool = withFile || (!journalBatch.empty() && spool_.exists());
        std::size_t fileRows = 0, cutLines = 0;
        const bool written =
            writeBatch(batch, linkBatch, journalBatch, withFile, withSpool, fileRows, cutLines);
        if (!written)
            db_.reset(); // the next write starts afresh, e.g. once the file is writable again
        bool removed = true, spoolRemoved = true;
        if (written && withSpool) {
            if (reached)
                reached(Step::Committed);
            if (withFile)
                removed = pending_.remove();
            spoolRemoved = spool_.remove();
        }
        lock.lock();
        if (written) {
            // Records dropped meanwhile are gone already; later ones stay queued.
            while (!queue_.empty() && !batch.empty() && queue_.front().seq <= batch.back().seq)
                queue_.pop_front();
            while (!linkQueue_.empty() && !linkBatch.empty() &&
                   linkQueue_.front().seq <= linkBatch.back().seq)
                linkQueue_.pop_front();
            while (!journalQueue_.empty() && !journalBatch.empty() &&
                   journalQueue_.front().seq <= journalBatch.back().seq)
                journalQueue_.pop_front();
            if (withFile) {
                // Rows appended meanwhile (none: only this thread appends) would keep it due.
                fileDue_ = !removed || !spoolRemoved;
                inFile_ = removed ? 0 : fileRows;
            } else if (!spoolRemoved) {
                fileDue_ = true;
            }
            if (state_ != State::Written)
                waited_ = fileRows + static_cast<std::size_t>(std::count_if(
                                         batch.begin(), batch.end(), [this](const Entry& e) {
                                             return e.seq <= failedThrough_;
                                         }));
            busy_ = false;
            setState(State::Written, lock);
            if (withFile && removed && cutLines > 0 && cutLinesDropped) {
                lock.unlock();
                cutLinesDropped(cutLines);
                lock.lock();
            }
        } else {
            if (withFile)
                inFile_ = fileRows > inFile_ ? fileRows : inFile_;
            failedThrough_ = nextSeq_ - 1;
            const bool missing = fileMissing(databasePath_);
            saveToFile(lock);
            saveJournal(lock);
            busy_ = false;
            setState(!queue_.empty() ? State::NotSaved
                     : missing       ? State::DatabaseMissing
                                     : State::Waiting,
                     lock);
        }
        idle_.notify_all();
    }
}

Database* HistoryWriter::connection() {
    struct stat st {};
    const bool there = ::stat(databasePath_.c_str(), &st) == 0;
    // A file removed or replaced under the connection would take the rows with it.
    if (db_ && (!there || st.st_dev != dbDevice_ || st.st_ino != dbInode_))
        db_.reset();
    if (db_ || !there)
        return db_.get();
    auto db = std::make_unique<Database>(databasePath_, busyTimeoutMs_);
    if (!db->isOpen())
        return nullptr;
    db_ = std::move(db);
    dbDevice_ = st.st_dev;
    dbInode_ = st.st_ino;
    if (connectionOpened)
        connectionOpened(*db_);
    return db_.get();
}

bool HistoryWriter::writeBatch(const std::vector<Entry>& batch,
                               const std::vector<LinkEntry>& linkBatch,
                               const std::vector<JournalEntry>& journalBatch, bool withFile,
                               bool withSpool, std::size_t& fileRows, std::size_t& cutLines) {
    Database* const connected = connection();
    if (!connected)
        return false;
    Database& db = *connected;
    if (!db.exec("BEGIN IMMEDIATE"))
        return false;
    Statement insert(db, std::string("INSERT INTO Historydata (") + kColumns +
                             ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    // A row that was in the pending file may have gone in before a crash kept the file from
    // being removed: it is looked for among the rows there before this transaction.
    std::int64_t before = 0;
    {
        Statement last(db, "SELECT max(ID) FROM Historydata");
        if (!last.step()) {
            db.exec("ROLLBACK");
            return false;
        }
        before = last.isNull(0) ? 0 : last.integer(0);
    }
    Statement stored(db, "SELECT 1 FROM Historydata WHERE MeterID = ?1 AND CreateTime = ?12 "
                         "AND MinuteAverage IS ?2 AND Foward IS ?3 AND Reverse IS ?4 "
                         "AND Alarmstatus IS ?5 AND TXTctemperature1 IS ?6 "
                         "AND TXTctemperature2 IS ?7 AND TXTreliang IS ?8 AND TXTlengliang IS ?9 "
                         "AND TXTleijire_z IS ?10 AND TXTleijileng_z IS ?11 AND ID <= ?13 LIMIT 1");
    bool ok = insert.ok() && stored.ok();
    // `upTo`: the last ID where an earlier copy of the row may be; 0 to insert unchecked.
    auto put = [&](const HistoryRecord& r, std::int64_t upTo) {
        if (upTo > 0) {
            stored.reset();
            bindRecord(stored, r);
            stored.bind(13, upTo);
            const bool there = stored.step();
            if (stored.failed())
                return ok = false;
            if (there)
                return true;
        }
        insert.reset();
        bindRecord(insert, r);
        insert.step();
        return ok = !insert.failed();
    };
    if (ok && withFile) {
        const auto read = pending_.read([&](const HistoryRecord& r) {
            ++fileRows;
            return put(r, before);
        });
        cutLines = read.cutLines;
        if (read.failure)
            ok = false;
    }
    // The journal's rows that waited in the spool go in before the ones noted since.
    std::uint64_t spooled = 0;
    if (ok && withSpool) {
        const EventSpool::Unwritten journal = spool_.unwritten(db);
        ok = !journal.failure && EventSpool::write(db, journal);
        for (const auto& [name, last] : journal.last)
            spooled = std::max(spooled, last);
    }
    for (const Entry& e : batch) {
        if (!ok)
            break;
        // A row whose append failed half way may have gone in from the file just now.
        put(e.record, e.maybeInFile ? INT64_MAX : 0);
    }
    if (ok && !linkBatch.empty()) {
        std::vector<LinkstatsRow> rows;
        rows.reserve(linkBatch.size());
        for (const LinkEntry& e : linkBatch)
            rows.push_back(e.row);
        ok = insertLinkstats(db, rows);
    }
    for (const JournalEntry& e : journalBatch) {
        if (!ok)
            break;
        // An entry whose append failed but was not cut back went in from the spool just now,
        // whole or its first rows (events numbered first, then alarm states).
        std::size_t inAlready = 0;
        if (e.batch.firstNumber != 0 && e.batch.firstNumber <= spooled)
            inAlready = static_cast<std::size_t>(
                std::min<std::uint64_t>(spooled - e.batch.firstNumber + 1, e.batch.rows()));
        const auto& events = e.batch.events;
        const auto& alarms = e.batch.alarms;
        const std::size_t eventsIn = std::min(inAlready, events.size());
        const std::size_t alarmsIn = inAlready - eventsIn;
        if (eventsIn == events.size() && alarmsIn == alarms.size())
            continue;
        ok =
            insertEvents(db,
                         {events.begin() + static_cast<std::ptrdiff_t>(eventsIn), events.end()}) &&
            storeAlarms(db, {alarms.begin() + static_cast<std::ptrdiff_t>(alarmsIn), alarms.end()});
    }
    if (ok && beforeCommit)
        beforeCommit(db);
    // A pass goes in whole or not at all.
    if (ok && db.exec("COMMIT"))
        return true;
    db.exec("ROLLBACK");
    return false;
}

} // namespace mirv
