#include "trend_data.h"

#include "database.h"
#include "exact_decimal.h"
#include "local_seconds.h"
#include "range_pass.h"
#include "trend_hours.h"
#include "trend_reduction.h"
#include "written_order.h"

#include <limits>

namespace mirv {

TrendLoad loadTrend(const std::string& databasePath, const HistorySelection& selection,
                    const TrendQuantity& quantity, const ProgressCallback& onProgress,
                    const std::atomic_bool* cancel, int pixels) {
    HistorySelection oneMeter = selection;
    oneMeter.allMeters = false;
    LocalSeconds clock;
    Database conn(databasePath, 2000, Database::Locking::OneThread);
    if (pixels > 0 && selection.from && selection.to) {
        const auto from = clock.of(*selection.from), to = clock.of(*selection.to);
        if (from && to && (*to - *from) / 3600 > pixels)
            if (auto load = loadTrendFromHours(conn, oneMeter, quantity, cancel)) {
                if (onProgress)
                    onProgress(1.0);
                return std::move(*load);
            }
    }
    std::string columns = "CreateTime";
    for (int l = 0; l < quantity.lineCount; ++l)
        columns += ", " + std::string(quantity.lines[l].column);

    TrendLoad load;
    TrendData& data = load.data;
    data.lines.resize(static_cast<std::size_t>(quantity.lineCount));
    WrittenClock written(&clock);
    const PassOutcome pass =
        passOverRange(conn, oneMeter, columns, onProgress, cancel, [&](const Statement& row) {
            const auto seconds = written.next(row.textView(0));
            if (!seconds)
                return;
            data.timesMs.push_back(*seconds * 1000);
            for (int l = 0; l < quantity.lineCount; ++l) {
                const auto value = tenThousandthsOf(row.textView(l + 1));
                data.lines[l].push_back(value ? static_cast<double>(*value) / 10000.0
                                              : std::numeric_limits<double>::quiet_NaN());
            }
        });
    load.status = pass.status;
    load.error = pass.error;
    if (pass.status != PassStatus::Done)
        return {pass.status, pass.error, {}};
    data.gapMs = gapThresholdMs(data.timesMs);
    data.records = static_cast<std::int64_t>(data.timesMs.size());
    return load;
}

} // namespace mirv
