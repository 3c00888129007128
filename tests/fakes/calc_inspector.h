#pragma once

#include <memory>
#include <string>
#include <vector>

namespace mirv::test {

struct SheetCell {
    enum Kind { Empty, Value, Text, Formula } kind = Empty;
    double value = 0;
    std::string shown; // as the sheet displays it
};

struct OpenSpreadsheet {
    std::string url; // empty for an untitled document
    std::vector<std::vector<SheetCell>> cells;
};

// Looks into a LibreOffice that a test had started, through the same pipe, and ends it.
class CalcInspector {
  public:
    explicit CalcInspector(const std::string& pipeName);
    ~CalcInspector();

    bool connected() const;
    // Every spreadsheet open in the office, its first sheet's top-left rows x columns.
    std::vector<OpenSpreadsheet> spreadsheets(int rows, int columns);
    // The widths of the first spreadsheet's first `columns` columns (1/100 mm): as they are, or
    // as wide as their contents need (which sets them so).
    std::vector<int> columnWidths(int columns, bool optimal);
    // Marks every document unmodified (so no save dialog can block) and ends the office.
    void terminate();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mirv::test
