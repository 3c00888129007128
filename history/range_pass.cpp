#include "range_pass.h"

#include "database.h"
#include "history_query.h"
#include "local_seconds.h"
#include "written_order.h"

#include <algorithm>
#include <optional>

namespace mirv {

namespace {

constexpr int kRowsBetweenChecks = 4096;

// The first or last CreateTime selected, read through the index.
std::optional<std::int64_t> endOfRange(Database& conn, const HistorySelection& s,
                                       LocalSeconds& clock, bool last) {
    Statement q(conn, "SELECT CreateTime" + selectionRange(s) + " ORDER BY CreateTime" +
                          (last ? " DESC" : "") + " LIMIT 1");
    bindSelectionRange(q, s);
    return q.step() ? clock.of(q.textView(0)) : std::nullopt;
}

PassOutcome failure(Database& conn) {
    return {PassStatus::Failed,
            conn.error().empty() ? "the history could not be read" : conn.error()};
}

bool cancelled(const std::atomic_bool* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

PassOutcome readRange(Database& conn, const HistorySelection& s, std::string_view columns,
                      const ProgressCallback& onProgress, const std::atomic_bool* cancel,
                      const std::function<void(const Statement&)>& onRow) {
    LocalSeconds clock;
    const auto first = endOfRange(conn, s, clock, false);
    const auto last = endOfRange(conn, s, clock, true);
    Statement q(conn, "SELECT " + std::string(columns) + selectionRange(s) + kWrittenOrder);
    bindSelectionRange(q, s);
    if (cancelled(cancel))
        return {PassStatus::Cancelled, {}};
    for (long long row = 1; q.step(); ++row) {
        onRow(q);
        if (row % kRowsBetweenChecks != 0)
            continue;
        if (cancelled(cancel))
            return {PassStatus::Cancelled, {}};
        if (onProgress && first && last && *last > *first)
            if (const auto now = clock.of(q.textView(0)))
                onProgress(std::clamp(static_cast<double>(*now - *first) /
                                          static_cast<double>(*last - *first),
                                      0.0, 1.0));
    }
    if (q.failed())
        return failure(conn);
    if (onProgress)
        onProgress(1.0);
    return {};
}

} // namespace

PassOutcome passOverRange(Database& conn, const HistorySelection& s, std::string_view columns,
                          const ProgressCallback& onProgress, const std::atomic_bool* cancel,
                          const std::function<void(const Statement&)>& onRow) {
    if (!conn.isOpen())
        return failure(conn);
    if (!s.from || !s.to)
        return {}; // a bound that is no date selects nothing, as on the query tab
    if (!conn.exec("BEGIN"))
        return failure(conn);
    PassOutcome outcome = readRange(conn, s, columns, onProgress, cancel, onRow);
    conn.exec("COMMIT");
    return outcome;
}

} // namespace mirv
