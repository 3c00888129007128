#include "energy_xlsx.h"

#include "report_cells.h"

#include <map>
#include <xlsxwriter.h>

namespace mirv {

namespace {

// The report's typing by history column: 1 (MeterID) for plain numbers, 12 for a date-time.
constexpr int kNumberLike = 1;
constexpr int kDateTime = 12;

int decimalsOf(const std::string& text) {
    const auto point = text.find('.');
    return point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
}

} // namespace

std::optional<std::string> writeEnergyXlsx(const std::string& path,
                                           const std::vector<EnergyRowTexts>& rows) {
    lxw_workbook* book = workbook_new(path.c_str());
    if (!book)
        return "cannot make the workbook " + path;
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* dateTime = workbook_add_format(book);
    format_set_num_format(dateTime, "yyyy-mm-dd hh:mm:ss");
    std::map<int, lxw_format*> decimals;
    auto numberFormat = [&](int places) {
        lxw_format*& f = decimals[places];
        if (!f) {
            f = workbook_add_format(book);
            format_set_num_format(f, places == 0 ? "0" : ("0." + std::string(places, '0')).c_str());
        }
        return f;
    };
    lxw_error error = LXW_NO_ERROR;
    auto check = [&](lxw_error e) {
        if (error == LXW_NO_ERROR)
            error = e;
    };
    for (int c = 0; c < kEnergyColumns; ++c) {
        check(worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c),
                                     std::string(kEnergyCaptions[c]).c_str(), bold));
        check(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                   c == 1 || c == 2 || c == kEnergyNameColumn ? 20 : 14, nullptr));
    }
    const ReportTyping typing;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto row = static_cast<lxw_row_t>(r + 1);
        for (int c = 0; c < kEnergyColumns; ++c) {
            const std::string& text = rows[r][static_cast<std::size_t>(c)];
            const auto col = static_cast<lxw_col_t>(c);
            // A name stays a text even when it reads as a number.
            const ReportCell cell =
                c == kEnergyNameColumn
                    ? ReportCell{text.empty() ? ReportCell::Empty : ReportCell::Text, 0, {}}
                    : typing.cell(c == 1 || c == 2 ? kDateTime : kNumberLike, text);
            if (cell.kind == ReportCell::Number)
                check(worksheet_write_number(sheet, row, col, cell.number,
                                             numberFormat(decimalsOf(text))));
            else if (cell.kind == ReportCell::DateTime)
                check(worksheet_write_number(sheet, row, col, cell.number, dateTime));
            else if (cell.kind == ReportCell::Text)
                check(worksheet_write_string(sheet, row, col, text.c_str(), nullptr));
        }
    }
    const lxw_error closed = workbook_close(book);
    if (error != LXW_NO_ERROR)
        return std::string("cannot write ") + path + ": " + lxw_strerror(error);
    if (closed != LXW_NO_ERROR)
        return std::string("cannot write ") + path + ": " + lxw_strerror(closed);
    return std::nullopt;
}

} // namespace mirv
