#pragma once

#include "history_rows.h"

#include <memory>
#include <string>

namespace mirv {

// A LibreOffice Calc that the station started, reached over its named pipe. Every call is
// one short exchange with the office and reports failure instead of throwing.
class CalcOffice {
  public:
    CalcOffice();
    ~CalcOffice();
    CalcOffice(const CalcOffice&) = delete;
    CalcOffice& operator=(const CalcOffice&) = delete;

    // Whether this build can drive the office at all.
    static bool supported();

    // One attempt to reach the office accepting on `pipeName`.
    bool connect(const std::string& pipeName);
    // Shows the report template as a new untitled document (the file itself is never
    // modified or locked), takes its first sheet and makes it the active one.
    bool openTemplate(const std::string& templatePath);
    // Writes the history rows from row 3 down, columns A to L (no ID), in one block.
    bool writeRows(const HistoryRows& rows);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mirv
