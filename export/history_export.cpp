#include "history_export.h"

namespace mirv {

namespace {

constexpr std::int64_t kProgressEvery = 4096;

} // namespace

ExportResult exportHistory(Database& db, const HistorySelection& selection, HistorySheet& sheet,
                           const std::function<bool(std::int64_t rows)>& progress) {
    ExportResult result;
    bool writing = sheet.writeHeader();
    if (writing) {
        result.readFailed = !streamHistory(db, selection, [&](const HistoryRowView& row) {
            if (!sheet.writeRow(row)) {
                writing = false;
                return false;
            }
            ++result.rows;
            if (progress && result.rows % kProgressEvery == 0 && !progress(result.rows)) {
                result.stopped = true;
                return false;
            }
            return true;
        });
    }
    result.writeFailed = sheet.finish();
    if (progress && !result.stopped && !result.readFailed)
        progress(result.rows);
    return result;
}

} // namespace mirv
