#include "report_cells.h"

#include "date_time_text.h"
#include "local_seconds.h"

#include <cstdlib>

namespace mirv {

namespace {

constexpr int kAlarmColumn = 11;
constexpr int kCreateTimeColumn = 12;

// "-12.50", "7", "0.0000": digits with at most one point inside, an optional minus sign.
bool plainDecimal(std::string_view s) {
    std::size_t i = s.starts_with('-') ? 1 : 0;
    int digits = 0, significant = 0;
    bool point = false, leading = true;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.' && !point && digits > 0) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            ++digits;
            if (c != '0')
                leading = false;
            if (!leading)
                ++significant;
        } else {
            return false;
        }
    }
    return digits > 0 && !s.ends_with('.') && significant <= 15;
}

ReportCell dateTimeCell(std::string_view stored, long long nullDays) {
    const auto canonical = parseDateTimeText(stored);
    if (!canonical)
        return {ReportCell::Text, 0, std::string(stored)};
    const std::string& t = *canonical; // YYYY-MM-DD HH:MM:SS
    auto field = [&](std::size_t at, std::size_t len) {
        return std::atoi(t.substr(at, len).c_str());
    };
    const long long days = daysFromCivil(field(0, 4), static_cast<unsigned>(field(5, 2)),
                                         static_cast<unsigned>(field(8, 2)));
    const int seconds = field(11, 2) * 3600 + field(14, 2) * 60 + field(17, 2);
    return {ReportCell::DateTime, static_cast<double>(days - nullDays) + seconds / 86400.0, {}};
}

} // namespace

ReportTyping::ReportTyping(int nullYear, int nullMonth, int nullDay)
    : nullDays_(daysFromCivil(nullYear, static_cast<unsigned>(nullMonth),
                              static_cast<unsigned>(nullDay))) {}

ReportCell ReportTyping::cell(int column, std::string_view value) const {
    if (value.empty())
        return {};
    if (column == kCreateTimeColumn)
        return dateTimeCell(value, nullDays_);
    if (column != kAlarmColumn && plainDecimal(value))
        return {ReportCell::Number, std::strtod(std::string(value).c_str(), nullptr), {}};
    return {ReportCell::Text, 0, std::string(value)};
}

ReportRow ReportTyping::row(const HistoryRowView& history) const {
    ReportRow out;
    out.reserve(kReportColumns);
    for (int c = 1; c <= kReportColumns; ++c)
        out.push_back(cell(c, history[c]));
    return out;
}

std::vector<ReportRow> reportRows(const HistoryRows& rows, int nullYear, int nullMonth,
                                  int nullDay) {
    const ReportTyping typing(nullYear, nullMonth, nullDay);
    std::vector<ReportRow> out;
    out.reserve(rows.size());
    HistoryRowView view;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < HistoryRows::kColumns; ++c)
            view[c] = rows.cell(r, c);
        out.push_back(typing.row(view));
    }
    return out;
}

} // namespace mirv
