#pragma once

#include "history_export.h"
#include "output_file.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mirv::tool {

// Where an export writes: a CSV or XLSX sheet into an OutputFile (a file that appears only
// when complete, or standard output for "-").
class ExportOutput {
  public:
    ExportOutput(const std::string& output, bool xlsx, const ProtectedFiles& station);
    ~ExportOutput();
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;

    // Why the output could not be made; nothing when sheet() is there to write into.
    const std::optional<std::string>& failure() const { return failure_; }
    HistorySheet& sheet() { return *sheet_; }
    // How the output is named in messages.
    const std::string& name() const { return file_.name(); }

    // After the sheet finished: puts the output in place; the failure's description if not.
    std::optional<std::string> complete();

  private:
    OutputFile file_;
    std::FILE* csv_ = nullptr;
    std::unique_ptr<HistorySheet> sheet_;
    std::optional<std::string> failure_;
};

// Writes a whole table into `output`: `csv()`'s bytes, or the workbook `xlsx` makes at the
// path it is given (its failure's description, if any). kSuccess, or one line on standard
// error and kDataError.
int writeTable(const std::string& output, const ProtectedFiles& station, bool asXlsx,
               const std::function<std::string()>& csv,
               const std::function<std::optional<std::string>(const std::string&)>& xlsx);

} // namespace mirv::tool
