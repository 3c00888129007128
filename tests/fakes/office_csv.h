#pragma once

#include "run_program.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace mirv::test {

// A spreadsheet read back by LibreOffice: every sheet of `workbook` converted to CSV as the
// office shows the cells, text cells in quotes and numbers bare, with a profile of its own.
// Returns sheet n's CSV (1-based), empty when there is no such sheet or the office failed.
class OfficeCsv {
  public:
    explicit OfficeCsv(const std::string& workbook) {
        const std::string profile = "-env:UserInstallation=file://" + dir_.str() + "/profile";
        run_ = runProgram({MIRV_SOFFICE, profile, "--headless", "--convert-to",
                           "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,true,false,"
                           "false,-1",
                           "--outdir", dir_.str(), workbook});
        stem_ = std::filesystem::path(workbook).stem().string();
    }

    std::string sheet(int n) const {
        std::ifstream in(dir_.path() / (stem_ + "-Sheet" + std::to_string(n) + ".csv"),
                         std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    const ProgramRun& run() const { return run_; }

  private:
    TempDir dir_;
    ProgramRun run_;
    std::string stem_;
};

} // namespace mirv::test
