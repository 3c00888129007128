#include "batched_prune.h"

#include "database.h"

#include <thread>

namespace mirv {

std::optional<std::int64_t> countHistoryBefore(Database& db, const std::string& before) {
    Statement count(db, "SELECT count(*) FROM Historydata WHERE CreateTime < ?1");
    count.bind(1, before);
    if (!count.step())
        return std::nullopt;
    return count.integer(0);
}

PruneResult pruneHistoryBefore(Database& db, const std::string& before,
                               const PruneOptions& options) {
    PruneResult result;
    Statement erase(db, "DELETE FROM Historydata WHERE ID IN (SELECT ID FROM Historydata "
                        "WHERE CreateTime < ?1 ORDER BY CreateTime LIMIT ?2)");
    if (!erase.ok()) {
        result.failed = true;
        return result;
    }
    for (;;) {
        if (!db.exec("BEGIN IMMEDIATE")) {
            result.failed = true;
            return result;
        }
        erase.reset();
        erase.bind(1, before);
        erase.bind(2, std::int64_t{options.batchRows});
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
        if (deleted < options.batchRows)
            return result;
        if (options.progress && !options.progress(result.deleted)) {
            result.stopped = true;
            return result;
        }
        std::this_thread::sleep_for(options.pause);
    }
}

} // namespace mirv
