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

ExportOutput::ExportOutput(const std::string& output, bool xlsx)
    : toStandardOutput_(output == "-"), name_(toStandardOutput_ ? "standard output" : output) {
    if (!toStandardOutput_ || xlsx) {
        file_ =
            std::make_unique<ReplacingFile>(toStandardOutput_ ? temporaryFile(".xlsx") : output);
        if (!file_->ok()) {
            failure_ = file_->error();
            return;
        }
    }
    if (xlsx) {
        const std::string folder = std::filesystem::path(file_->path()).parent_path().string();
        sheet_ = std::make_unique<XlsxHistorySheet>(file_->path(), folder.empty() ? "." : folder);
        return;
    }
    csv_ = file_ ? ::fdopen(::dup(file_->fd()), "wb") : stdout;
    if (!csv_) {
        failure_ = "cannot write " + name_ + ": " + lastError();
        return;
    }
    std::setvbuf(csv_, nullptr, _IOFBF, 1 << 20);
    sheet_ = std::make_unique<CsvHistorySheet>(csv_);
}

ExportOutput::~ExportOutput() {
    sheet_.reset();
    if (csv_ && csv_ != stdout)
        std::fclose(csv_);
}

std::optional<std::string> ExportOutput::complete() {
    sheet_.reset();
    if (csv_ && csv_ != stdout) {
        const bool closed = std::fclose(csv_) == 0;
        csv_ = nullptr;
        if (!closed)
            return "cannot write " + name_ + ": " + lastError();
    }
    if (!file_)
        return std::nullopt;
    if (toStandardOutput_)
        return copyFileToStandardOutput(file_->path())
                   ? std::nullopt
                   : std::optional<std::string>("cannot write standard output: " + lastError());
    return file_->commit();
}

} // namespace mirv::tool
