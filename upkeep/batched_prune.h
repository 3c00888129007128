#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace mirv {

class Database;

// Rows of Historydata stamped before `before` ('YYYY-MM-DD HH:MM:SS'); nothing when the count
// failed (the Database has the error).
std::optional<std::int64_t> countHistoryBefore(Database& db, const std::string& before);

struct PruneOptions {
    // Rows deleted in one transaction at most: the write lock is held for one batch only.
    int batchRows = 4000;
    // A batch that holds the lock longer makes the next ones smaller (a slow or busy disk).
    std::chrono::milliseconds holdTarget{40};
    // Rest between batches. A writer waiting on SQLite's busy handler retries every 25 to 50
    // ms, so a rest at least that long lets a logging pass in before the next batch.
    std::chrono::milliseconds pause{30};
    // Hears the rows deleted so far after each batch; returns false to stop.
    std::function<bool(std::int64_t deleted)> progress;
};

struct PruneResult {
    std::int64_t deleted = 0; // committed, also when it stopped or failed part way
    bool failed = false;      // a batch failed and was rolled back: the Database has the error
    bool stopped = false;
};

// Deletes the rows of Historydata stamped before `before`, oldest first, one batch a
// transaction. Touches no other table.
PruneResult pruneHistoryBefore(Database& db, const std::string& before,
                               const PruneOptions& options = {});

} // namespace mirv
