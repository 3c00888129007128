#pragma once

#include "history_export.h"
#include "report_cells.h"

#include <array>
#include <string>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace mirv {

// History rows as an XLSX workbook, written row by row in libxlsxwriter's constant-memory mode
// so that memory stays flat. Cells are typed as the report types them: numbers shown with the
// decimals they were stored with, texts as texts, CreateTime as a date-time. A sheet holds at
// most 1,048,576 rows; longer selections go on in Sheet2, Sheet3, ... each with the captions.
class XlsxHistorySheet : public HistorySheet {
  public:
    // `tempFolder` holds libxlsxwriter's working files until finish(). `rowsPerSheet` counts
    // the captions' row too.
    XlsxHistorySheet(const std::string& path, const std::string& tempFolder,
                     unsigned rowsPerSheet = kMaxRowsPerSheet);
    static constexpr unsigned kMaxRowsPerSheet = 1048576;
    ~XlsxHistorySheet() override;

    bool writeHeader() override;
    bool writeRow(const HistoryRowView& row) override;
    std::optional<std::string> finish() override;

  private:
    bool startSheet();
    bool writeCell(int column, const ReportCell& cell, std::string_view stored);
    lxw_format* numberFormat(std::string_view stored);
    bool check(int lxwError);

    std::string tempFolder_;
    lxw_workbook* book_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    unsigned rowsPerSheet_;
    unsigned row_ = 0;
    int sheets_ = 0;
    ReportTyping typing_;
    std::array<lxw_format*, 16> decimals_{}; // "0", "0.0", "0.00", ...
    lxw_format* dateTime_ = nullptr;
    std::string error_;
};

} // namespace mirv
