#include "xlsx_history_sheet.h"

#include "history_columns.h"

#include <algorithm>
#include <xlsxwriter.h>

namespace mirv {

namespace {

// The grid's width in twips as an XLSX column width (characters of the default font, about
// 7 pixels each at 96 pixels an inch).
double columnWidth(int twips) {
    return twips / 1440.0 * 96.0 / 7.0;
}

constexpr int kCreateTimeColumn = HistoryRows::kColumns - 1;

} // namespace

XlsxHistorySheet::XlsxHistorySheet(const std::string& path, const std::string& tempFolder,
                                   unsigned rowsPerSheet)
    : tempFolder_(tempFolder), rowsPerSheet_(std::clamp(rowsPerSheet, 2u, kMaxRowsPerSheet)) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tempFolder_.data();
    book_ = workbook_new_opt(path.c_str(), &options);
    if (!book_) {
        error_ = "cannot start the workbook";
        return;
    }
    dateTime_ = workbook_add_format(book_);
    format_set_num_format(dateTime_, "yyyy-mm-dd hh:mm:ss");
}

XlsxHistorySheet::~XlsxHistorySheet() {
    // A workbook abandoned before finish() is freed without writing it.
    if (book_)
        lxw_workbook_free(book_);
}

bool XlsxHistorySheet::check(int lxwError) {
    if (lxwError != LXW_NO_ERROR && error_.empty())
        error_ = lxw_strerror(static_cast<lxw_error>(lxwError));
    return error_.empty();
}

bool XlsxHistorySheet::startSheet() {
    const std::string name = "Sheet" + std::to_string(++sheets_);
    sheet_ = workbook_add_worksheet(book_, name.c_str());
    if (!sheet_) {
        error_ = "cannot add " + name;
        return false;
    }
    row_ = 0;
    for (int c = 0; c < HistoryRows::kColumns; ++c) {
        double width = columnWidth(kHistoryColumns[c].widthTwips);
        if (c == kCreateTimeColumn)
            width = std::max(width, 20.0); // room for "yyyy-mm-dd hh:mm:ss"
        check(worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                   width, nullptr));
        check(worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c),
                                     kHistoryColumns[c].caption, nullptr));
    }
    worksheet_freeze_panes(sheet_, 1, 0);
    row_ = 1;
    return error_.empty();
}

bool XlsxHistorySheet::writeHeader() {
    return book_ && startSheet();
}

lxw_format* XlsxHistorySheet::numberFormat(std::string_view stored) {
    const auto point = stored.find('.');
    const std::size_t decimals = std::min(
        point == std::string_view::npos ? 0 : stored.size() - point - 1, decimals_.size() - 1);
    lxw_format*& format = decimals_[decimals];
    if (!format) {
        format = workbook_add_format(book_);
        const std::string pattern = decimals == 0 ? "0" : "0." + std::string(decimals, '0');
        format_set_num_format(format, pattern.c_str());
    }
    return format;
}

bool XlsxHistorySheet::writeCell(int column, const ReportCell& cell, std::string_view stored) {
    const auto col = static_cast<lxw_col_t>(column);
    switch (cell.kind) {
    case ReportCell::Empty:
        return true;
    case ReportCell::Number:
        return check(worksheet_write_number(sheet_, row_, col, cell.number, numberFormat(stored)));
    case ReportCell::DateTime:
        return check(worksheet_write_number(sheet_, row_, col, cell.number, dateTime_));
    case ReportCell::Text:
        return check(worksheet_write_string(sheet_, row_, col, cell.text.c_str(), nullptr));
    }
    return true;
}

bool XlsxHistorySheet::writeRow(const HistoryRowView& row) {
    if (!error_.empty())
        return false;
    if (row_ >= rowsPerSheet_ && !startSheet())
        return false;
    // ID is typed as MeterID is: a number when it is one.
    bool ok = writeCell(0, typing_.cell(1, row[0]), row[0]);
    for (int c = 1; c < HistoryRows::kColumns && ok; ++c)
        ok = writeCell(c, typing_.cell(c, row[c]), row[c]);
    ++row_;
    return ok;
}

std::optional<std::string> XlsxHistorySheet::finish() {
    if (book_) {
        check(workbook_close(book_));
        book_ = nullptr;
    }
    if (error_.empty())
        return std::nullopt;
    return error_;
}

} // namespace mirv
