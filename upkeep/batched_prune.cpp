#include "batched_prune.h"

#include "database.h"

#include <algorithm>
#include <thread>

namespace mirv {

std::optional<std::int64_t> countHistoryBefore(Database& db, const std::string& before) {
    Statement count(db, "SELECT count(*) FROM Historydata WHERE CreateTime < ?1");
    count.bind(1, before);
    if (!count.step())
        return std::nullopt;
    return count.integer(0);
}

namespace {

// The batch size that would have held the lock for about the target, within 1/8 and all of
// the largest batch; it moves at most by half or double at a time.
int nextBatch(int batch, std::chrono::steady_clock::duration held, const PruneOptions& options) {
    const double heldMs = std::chrono::duration<double, std::milli>(held).count();
    const double ratio = std::clamp(options.holdTarget.count() / std::max(heldMs, 1.0), 0.5, 2.0);
    return std::clamp(static_cast<int>(batch * ratio), std::max(1, options.batchRows / 8),
                      options.batchRows);
}

} // namespace

PruneResult pruneHistoryBefore(Database& db, const std::string& before,
                               const PruneOptions& options) {
    PruneResult result;
    Statement erase(db, "DELETE FROM Historydata WHERE ID IN (SELECT ID FROM Historydata "
                        "WHERE CreateTime < ?1 ORDER BY CreateTime LIMIT ?2)");
    if (!erase.ok()) {
        result.failed = true;
        return result;
    }
    int batch = options.batchRows;
    for (;;) {
        if (!db.exec("BEGIN IMMEDIATE")) {
            result.failed = true;
            return result;
        }
        const auto locked = std::chrono::steady_clock::now();
        erase.reset();
        erase.bind(1, before);
        erase.bind(2, std::int64_t{batch});
        erase.step();
        const int deleted = db.changes();
        if (erase.failed() || !db.exec("COMMIT")) {
            const std::string why = db.error();
            db.exec("ROLLBACK");
            db.setError(why);
            result.failed = true;
            return result;
        }
        result.deleted += deleted;
        if (deleted < batch)
            return result;
        batch = nextBatch(batch, std::chrono::steady_clock::now() - locked, options);
        if (options.progress && !options.progress(result.deleted)) {
            result.stopped = true;
            return result;
        }
        std::this_thread::sleep_for(options.pause);
    }
}

} // namespace mirv
