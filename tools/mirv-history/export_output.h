#pragma once

#include "history_export.h"
#include "replacing_file.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace mirv::tool {

// Where an export writes: a CSV or XLSX sheet over a file that appears only when complete, or
// over standard output ("-"). A workbook for standard output is made in a temporary file first
// and copied out once complete.
class ExportOutput {
  public:
    ExportOutput(const std::string& output, bool xlsx);
    ~ExportOutput();
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;

    // Why the output could not be made; nothing when sheet() is there to write into.
    const std::optional<std::string>& failure() const { return failure_; }
    HistorySheet& sheet() { return *sheet_; }
    // How the output is named in messages.
    const std::string& name() const { return name_; }

    // After the sheet finished: puts the output in place; the failure's description if not.
    std::optional<std::string> complete();

  private:
    bool toStandardOutput_;
    std::string name_;
    std::unique_ptr<ReplacingFile> file_;
    std::FILE* csv_ = nullptr; // this object's own, unless it is stdout
    std::unique_ptr<HistorySheet> sheet_;
    std::optional<std::string> failure_;
};

} // namespace mirv::tool
