#include "csv_history_sheet.h"

#include "history_columns.h"

#include <cstring>

namespace mirv {

bool CsvHistorySheet::writeHeader() {
    std::array<std::string_view, HistoryRows::kColumns> captions;
    for (int c = 0; c < HistoryRows::kColumns; ++c)
        captions[c] = kHistoryColumns[c].caption;
    csv_.writeRow(captions);
    return csv_.good();
}

bool CsvHistorySheet::writeRow(const HistoryRowView& row) {
    csv_.writeRow(row);
    return csv_.good();
}

std::optional<std::string> CsvHistorySheet::finish() {
    if (csv_.flush())
        return std::nullopt;
    return std::strerror(csv_.error());
}

} // namespace mirv
