#include "event_table.h"

#include "csv_writer.h"
#include "report_cells.h"

#include <array>
#include <string_view>
#include <xlsxwriter.h>

namespace mirv {

namespace {

constexpr int kColumns = 8;
constexpr std::array<std::string_view, kColumns> kCaptions = {"时间", "UTC时间", "仪表", "类别",
                                                              "阶段", "事件",    "说明", "操作人"};
constexpr int kDateTime = 12; // the report's typing of CreateTime

std::array<std::string, kColumns> texts(const EventRow& e) {
    return {e.localTime, e.utcTime, e.meter ? std::to_string(e.meter) : std::string(),
            e.kind,      e.phase,   e.text,
            e.detail,    e.user};
}

} // namespace

std::string eventsCsv(const std::vector<EventRow>& rows) {
    return csvText([&](CsvWriter& csv) {
        csv.writeRow(kCaptions);
        for (const EventRow& row : rows) {
            const auto t = texts(row);
            std::array<std::string_view, kColumns> fields;
            for (int c = 0; c < kColumns; ++c)
                fields[c] = t[c];
            csv.writeRow(fields);
        }
    });
}

std::optional<std::string> writeEventsXlsx(const std::string& path,
                                           const std::vector<EventRow>& rows) {
    lxw_workbook* book = workbook_new(path.c_str());
    if (!book)
        return "cannot make the workbook " + path;
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* dateTime = workbook_add_format(book);
    format_set_num_format(dateTime, "yyyy-mm-dd hh:mm:ss");
    lxw_error error = LXW_NO_ERROR;
    auto check = [&](lxw_error e) {
        if (error == LXW_NO_ERROR)
            error = e;
    };
    for (int c = 0; c < kColumns; ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        check(worksheet_write_string(sheet, 0, col, std::string(kCaptions[c]).c_str(), bold));
        check(worksheet_set_column(sheet, col, col, c < 2 ? 20 : (c >= 5 ? 30 : 10), nullptr));
    }
    const ReportTyping typing;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto row = static_cast<lxw_row_t>(r + 1);
        const auto t = texts(rows[r]);
        const ReportCell time = typing.cell(kDateTime, t[0]);
        if (time.kind == ReportCell::DateTime)
            check(worksheet_write_number(sheet, row, 0, time.number, dateTime));
        else
            check(worksheet_write_string(sheet, row, 0, t[0].c_str(), nullptr));
        if (rows[r].meter)
            check(worksheet_write_number(sheet, row, 2, rows[r].meter, nullptr));
        for (int c : {1, 3, 4, 5, 6, 7})
            check(worksheet_write_string(sheet, row, static_cast<lxw_col_t>(c), t[c].c_str(),
                                         nullptr));
    }
    const lxw_error closed = workbook_close(book);
    if (error != LXW_NO_ERROR)
        return std::string("cannot write ") + path + ": " + lxw_strerror(error);
    if (closed != LXW_NO_ERROR)
        return std::string("cannot write ") + path + ": " + lxw_strerror(closed);
    return std::nullopt;
}

} // namespace mirv
