#pragma once

#include "report_cells.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace mirv {

// A LibreOffice Calc that the station started, reached over its named pipe. Every call is
// one exchange with the office and reports failure instead of throwing. The calls may run on
// any thread; abort() may come from another one.
class CalcOffice {
  public:
    CalcOffice();
    ~CalcOffice();
    CalcOffice(const CalcOffice&) = delete;
    CalcOffice& operator=(const CalcOffice&) = delete;

    // Whether this build can drive the office at all.
    static bool supported();

    // One attempt to reach the office accepting on `pipeName`; an office that takes the
    // connection but does not answer within `bound` counts as not reached.
    bool connect(const std::string& pipeName, std::chrono::milliseconds bound);
    // Shows the report template as a new untitled document (the file itself is never
    // modified or locked), takes its first sheet and makes it the active one.
    bool openTemplate(const std::string& templatePath);
    // How the document wants its cells: its own null date for date-times.
    ReportTyping typing();
    // Writes rows into the first sheet from sheet row `firstRow` (0-based) down, columns A to
    // L, in one call.
    bool writeRows(int firstRow, const std::vector<ReportRow>& rows);
    // Shows rows `firstRow` .. `lastRow` the way the board shows its readings: flow,
    // velocity and powers with four decimals, totals and temperatures with two, the time as
    // yyyy-mm-dd hh:mm:ss.
    bool formatColumns(int firstRow, int lastRow);
    // Drops the connection, so that a call waiting for the office returns at once.
    void abort();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mirv
