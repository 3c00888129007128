#include "export_output.h"

#include "csv_history_sheet.h"
#include "tool_support.h"
#include "xlsx_history_sheet.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace mirv::tool {

namespace {

std::string lastError() {
    return std::strerror(errno ? errno : EIO);
}

} // namespace

ExportOutput::ExportOutput(const std::string& output, bool xlsx, const ProtectedFiles& station)
    : file_(output, station, xlsx) {
    if (!file_.ok()) {
        failure_ = file_.error();
        return;
    }
    if (xlsx) {
        const std::string folder = std::filesystem::path(file_.path()).parent_path().string();
        sheet_ = std::make_unique<XlsxHistorySheet>(file_.path(), folder.empty() ? "." : folder);
        return;
    }
    csv_ = ::fdopen(::dup(file_.fd()), "wb");
    if (!csv_) {
        failure_ = "cannot write " + name() + ": " + lastError();
        return;
    }
    std::setvbuf(csv_, nullptr, _IOFBF, 1 << 20);
    sheet_ = std::make_unique<CsvHistorySheet>(csv_);
}

ExportOutput::~ExportOutput() {
    sheet_.reset();
    if (csv_)
        std::fclose(csv_);
}

std::optional<std::string> ExportOutput::complete() {
    sheet_.reset();
    if (csv_) {
        const bool closed = std::fclose(csv_) == 0;
        csv_ = nullptr;
        if (!closed)
            return "cannot write " + name() + ": " + lastError();
    }
    return file_.commit();
}

int writeTable(const std::string& output, const ProtectedFiles& station, bool asXlsx,
               const std::function<std::string()>& csv,
               const std::function<std::optional<std::string>(const std::string&)>& xlsx) {
    OutputFile file(output, station, asXlsx);
    if (!file.ok())
        return report(kDataError, file.error());
    std::optional<std::string> failed;
    if (asXlsx) {
        if (auto notMade = xlsx(file.path()))
            failed = "cannot write " + file.name() + ": " + *notMade;
    } else {
        failed = file.write(csv());
    }
    if (!failed)
        failed = file.commit();
    return failed ? report(kDataError, *failed) : kSuccess;
}

} // namespace mirv::tool
