#include "history_writer.h"

#include "database.h"

namespace mirv {

HistoryWriter::HistoryWriter(std::string databasePath, int busyTimeoutMs)
    : databasePath_(std::move(databasePath)), busyTimeoutMs_(busyTimeoutMs),
      thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
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

bool HistoryWriter::flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (queue_.empty())
        return true;
    due_ = true;
    wake_.notify_all();
    return idle_.wait_for(lock, timeout, [this] { return queue_.empty(); });
}

bool HistoryWriter::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return !due_ && !busy_; });
}

std::size_t HistoryWriter::queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

std::uint64_t HistoryWriter::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

bool HistoryWriter::backlog() const {
    std::lock_guard lock(mutex_);
    return backlog_;
}

void HistoryWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return due_ || stopping_; });
        if (stopping_)
            return;
        due_ = false;
        if (queue_.empty()) {
            idle_.notify_all();
            continue;
        }
        busy_ = true;
        const std::vector<Entry> batch(queue_.begin(), queue_.end());
        lock.unlock();
        const bool written = writeBatch(batch);
        lock.lock();
        busy_ = false;
        if (written) {
            // Records dropped meanwhile are gone already; later ones stay queued.
            while (!queue_.empty() && queue_.front().seq <= batch.back().seq)
                queue_.pop_front();
        }
        const bool changed = backlog_ != !written;
        backlog_ = !written;
        if (changed && backlogChanged) {
            lock.unlock();
            backlogChanged(!written);
            lock.lock();
        }
        idle_.notify_all();
    }
}

bool HistoryWriter::writeBatch(const std::vector<Entry>& batch) {
    Database db(databasePath_, busyTimeoutMs_);
    if (!db.isOpen())
        return false;
    if (connectionOpened)
        connectionOpened(db);
    if (!db.exec("BEGIN IMMEDIATE"))
        return false;
    Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                         "Alarmstatus, TXTctemperature1, TXTctemperature2, TXTreliang, "
                         "TXTlengliang, TXTleijire_z, TXTleijileng_z, CreateTime) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    bool ok = insert.ok();
    for (const Entry& e : batch) {
        if (!ok)
            break;
        const HistoryRecord& r = e.record;
        insert.reset();
        int i = 0;
        for (const std::string* value :
             {&r.meterId, &r.flow, &r.forwardTotal, &r.reverseTotal, &r.alarmStatus, &r.inletTemp,
              &r.outletTemp, &r.heatPower, &r.coldPower, &r.heatTotal, &r.coldTotal, &r.createTime})
            insert.bind(++i, *value);
        insert.step();
        ok = !insert.failed();
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
