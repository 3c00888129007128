#include "linkstats_table.h"

#include "csv_writer.h"
#include "report_cells.h"

#include <xlsxwriter.h>

namespace mirv {

const std::array<std::string_view, kLinkstatsColumns> kLinkstatsCaptions = {
    "仪表", "小时",     "请求",       "应答",     "未应答",     "CRC错误",   "过短",
    "过长", "多余字节", "功能码错误", "地址错误", "平均响应ms", "最长响应ms"};

namespace {

// Empty for an hour without an answer.
std::string milliseconds(std::optional<std::int64_t> us) {
    if (!us)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(*us) / 1000.0);
    return text;
}

constexpr int kHourColumn = 1;
constexpr int kDateTime = 12; // the report's typing of CreateTime

} // namespace

LinkstatsTexts linkstatsTexts(const LinkstatsRow& row) {
    const HourTally& t = row.tally;
    LinkstatsTexts texts{std::to_string(t.meter), row.hour, std::to_string(t.requests),
                         std::to_string(t.answers), std::to_string(t.missed)};
    for (int c = 0; c < kRejectCauses; ++c)
        texts[static_cast<std::size_t>(5 + c)] = std::to_string(t.rejects[c]);
    texts[11] = milliseconds(t.responseMeanUs());
    texts[12] = milliseconds(t.responseMaxUs);
    return texts;
}

std::string linkstatsCsv(const std::vector<LinkstatsRow>& rows) {
    return csvText([&](CsvWriter& csv) {
        csv.writeRow(kLinkstatsCaptions);
        for (const LinkstatsRow& row : rows) {
            const LinkstatsTexts texts = linkstatsTexts(row);
            std::array<std::string_view, kLinkstatsColumns> fields;
            for (int c = 0; c < kLinkstatsColumns; ++c)
                fields[c] = texts[c];
            csv.writeRow(fields);
        }
    });
}

std::optional<std::string> writeLinkstatsXlsx(const std::string& path,
                                              const std::vector<LinkstatsRow>& rows) {
    lxw_workbook* book = workbook_new(path.c_str());
    if (!book)
        return "cannot make the workbook " + path;
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* dateTime = workbook_add_format(book);
    format_set_num_format(dateTime, "yyyy-mm-dd hh:mm:ss");
    lxw_format* oneDecimal = workbook_add_format(book);
    format_set_num_format(oneDecimal, "0.0");
    lxw_error error = LXW_NO_ERROR;
    auto check = [&](lxw_error e) {
        if (error == LXW_NO_ERROR)
            error = e;
    };
    for (int c = 0; c < kLinkstatsColumns; ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        check(worksheet_write_string(sheet, 0, col, std::string(kLinkstatsCaptions[c]).c_str(),
                                     bold));
        check(worksheet_set_column(sheet, col, col, c == kHourColumn ? 20 : 11, nullptr));
    }
    const ReportTyping typing;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto row = static_cast<lxw_row_t>(r + 1);
        const LinkstatsTexts texts = linkstatsTexts(rows[r]);
        for (int c = 0; c < kLinkstatsColumns; ++c) {
            const auto col = static_cast<lxw_col_t>(c);
            if (c == kHourColumn) {
                const ReportCell cell = typing.cell(kDateTime, texts[c]);
                if (cell.kind == ReportCell::DateTime)
                    check(worksheet_write_number(sheet, row, col, cell.number, dateTime));
                else
                    check(worksheet_write_string(sheet, row, col, texts[c].c_str(), nullptr));
            } else if (!texts[c].empty()) {
                check(worksheet_write_number(sheet, row, col,
                                             std::strtod(texts[c].c_str(), nullptr),
                                             c >= 11 ? oneDecimal : nullptr));
            }
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
