#pragma once

#include "csv_writer.h"
#include "history_export.h"

#include <cstdio>

namespace mirv {

// History rows as CSV: the captions, then each row's 13 stored texts as they are.
class CsvHistorySheet : public HistorySheet {
  public:
    // `out` stays the caller's, who closes it after finish().
    explicit CsvHistorySheet(std::FILE* out) : csv_(out) {}

    bool writeHeader() override;
    bool writeRow(const HistoryRowView& row) override;
    std::optional<std::string> finish() override;

  private:
    CsvWriter csv_;
};

} // namespace mirv
