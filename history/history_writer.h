#pragma once

#include "history_record.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mirv {

class Database;

// Writes history records into Historydata on a thread of its own, so that a database another
// writer holds, a slow disk or a failing file never stalls the event thread. Each write puts
// every queued record into one transaction, oldest first. Records that could not be written
// stay queued, with their own CreateTime, for the next write; past a day of records (20 meters
// a minute) the oldest are dropped and counted.
class HistoryWriter {
  public:
    static constexpr std::size_t kMaxQueued = 20 * 1440;

    explicit HistoryWriter(std::string databasePath, int busyTimeoutMs = 2000);
    // Finishes a write in progress; records still queued are lost.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Queues the records and starts a write of everything queued.
    void write(std::vector<HistoryRecord> records);
    // Starts a write of what is queued and waits up to `timeout` until the queue is empty.
    bool flush(std::chrono::milliseconds timeout);
    // Waits up to `timeout` until no write runs or is due (the queue may still hold records).
    bool waitIdle(std::chrono::milliseconds timeout);

    std::size_t queued() const;
    std::uint64_t dropped() const;
    // Whether the last write failed and records are waiting for the next one.
    bool backlog() const;

    // Called on the writer's thread when backlog() changes.
    std::function<void(bool backlog)> backlogChanged;
    // Called on the writer's thread with each connection it opens, before it writes.
    std::function<void(Database&)> connectionOpened;
    // Called on the writer's thread inside each write's transaction after its rows went in,
    // for what is kept beside them; what it does goes in with the rows.
    std::function<void(Database&)> beforeCommit;

  private:
    struct Entry {
        std::uint64_t seq;
        HistoryRecord record;
    };

    void run();
    bool writeBatch(const std::vector<Entry>& batch);

    const std::string databasePath_;
    const int busyTimeoutMs_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Entry> queue_;
    std::uint64_t nextSeq_ = 1;
    std::uint64_t dropped_ = 0;
    bool due_ = false;
    bool busy_ = false;
    bool backlog_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace mirv
