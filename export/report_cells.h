#pragma once

#include "history_query.h"
#include "history_rows.h"

#include <string>
#include <vector>

namespace mirv {

// One spreadsheet cell of the report: empty, a number the operator can compute with, a literal
// text, or a date-time (days since the spreadsheet's null date).
struct ReportCell {
    enum Kind { Empty, Number, Text, DateTime } kind = Empty;
    double number = 0;
    std::string text;
    bool operator==(const ReportCell&) const = default;
};

constexpr int kReportColumns = 12;
using ReportRow = std::vector<ReportCell>;

// How a report types the 12 fields after ID (MeterID .. CreateTime) of a history row.
// MeterID and the nine readings become numbers when they are plain decimals of at most 15
// significant digits, else literal text; Alarmstatus stays text; CreateTime becomes a
// date-time counted in days from the null date (year, month, day), 1899-12-30 unless the
// document says otherwise. Empty fields stay empty.
class ReportTyping {
  public:
    explicit ReportTyping(int nullYear = 1899, int nullMonth = 12, int nullDay = 30);

    ReportRow row(const HistoryRowView& history) const;
    // `column` counts the history row's columns: 1 (MeterID) .. 12 (CreateTime).
    ReportCell cell(int column, std::string_view text) const;

  private:
    long long nullDays_;
};

std::vector<ReportRow> reportRows(const HistoryRows& rows, int nullYear = 1899, int nullMonth = 12,
                                  int nullDay = 30);

} // namespace mirv
