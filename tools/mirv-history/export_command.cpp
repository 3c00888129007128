// mirv-history export: the query tab's selection written as CSV or XLSX.
#include "command.h"
#include "csv_history_sheet.h"
#include "history_export.h"
#include "replacing_file.h"
#include "tool_support.h"
#include "xlsx_history_sheet.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct ExportOptions {
    std::string from, to, meter, step = "1", format, output;
};

std::string tempFolder() {
    std::error_code ec;
    const auto folder = std::filesystem::temp_directory_path(ec);
    return ec ? "/tmp" : folder.string();
}

// Copies the finished file at `path` to standard output.
bool copyToStandardOutput(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buffer[1 << 16];
    bool ok = true;
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, in))
        ok = ok && std::fwrite(buffer, 1, n, stdout) == n;
    std::fclose(in);
    return std::fflush(stdout) == 0 && ok;
}

int runExport(const ExportOptions& o, const ToolSettings& settings) {
    InterruptGuard guard;
    const HistorySelection selection = selectionFrom({o.meter, o.from, o.to, o.step});
    std::string usage;
    if (!readDateOption("--from", o.from, usage) || !readDateOption("--to", o.to, usage))
        return report(kUsageError, usage);
    if (selection.step == 0)
        return report(kUsageError, "cannot read the step '" + o.step +
                                       "': give the minutes between rows, e.g. 1, 10 or 60");
    const bool toStandardOutput = o.output == "-";
    if (toStandardOutput && o.format == "xlsx" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a workbook is not written to a terminal: use --output FILE");

    OpenedDatabase opened = openForCommand(settings.database(), settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;

    // The file takes shape under a temporary name; standard output gets a workbook only once
    // it is complete.
    const std::string shownOutput = toStandardOutput ? "standard output" : o.output;
    std::unique_ptr<ReplacingFile> file;
    if (!toStandardOutput || o.format == "xlsx") {
        const std::string target = toStandardOutput ? tempFolder() + "/mirv-history-" +
                                                          std::to_string(::getpid()) + ".xlsx"
                                                    : o.output;
        file = std::make_unique<ReplacingFile>(target);
        if (!file->ok())
            return report(kDataError, file->error());
    }
    std::FILE* csvOut = stdout;
    if (o.format == "csv" && file) {
        csvOut = ::fdopen(::dup(file->fd()), "wb");
        if (!csvOut)
            return report(kDataError, "cannot write " + shownOutput + ": " + std::strerror(errno));
    }
    std::unique_ptr<HistorySheet> sheet;
    if (o.format == "csv") {
        std::setvbuf(csvOut, nullptr, _IOFBF, 1 << 20);
        sheet = std::make_unique<CsvHistorySheet>(csvOut);
    } else {
        const std::string folder = std::filesystem::path(file->path()).parent_path().string();
        sheet = std::make_unique<XlsxHistorySheet>(file->path(), folder.empty() ? "." : folder);
    }

    ProgressLine progress;
    const ExportResult result =
        exportHistory(*opened.db, selection, *sheet, [&](std::int64_t rows) {
            progress.show("exported " + std::to_string(rows) + " rows");
            return !InterruptGuard::interrupted();
        });
    sheet.reset();
    bool closed = true;
    if (csvOut != stdout)
        closed = std::fclose(csvOut) == 0;
    if (result.readFailed)
        return reportFailure(failureOf(*opened.db, settings.database(), settings.busyTimeoutMs()));
    if (result.stopped)
        return report(kDataError, "interrupted: " + shownOutput + " was not written");
    if (result.writeFailed || !closed)
        return report(kDataError, "cannot write " + shownOutput + ": " +
                                      result.writeFailed.value_or(std::strerror(errno)));
    if (toStandardOutput && file) {
        if (!copyToStandardOutput(file->path()))
            return report(kDataError,
                          "cannot write standard output: " + std::string(std::strerror(errno)));
    } else if (file) {
        if (auto failed = file->commit())
            return report(kDataError, *failed);
    }
    progress.show("exported " + std::to_string(result.rows) + " rows to " + shownOutput, true);
    return kSuccess;
}

} // namespace

CommandRun setUpExport(CLI::App& command, const ToolSettings& settings) {
    auto o = std::make_shared<ExportOptions>();
    command.add_option("--from", o->from, "first date-time included: YYYY-MM-DD [HH:MM[:SS]]")
        ->required()
        ->type_name("DATE");
    command.add_option("--to", o->to, "last date-time included (a date alone is its midnight)")
        ->required()
        ->type_name("DATE");
    command.add_option("--meter", o->meter,
                       "a meter number as logged; empty or 全部 for all meters (default)");
    command
        .add_option("--step", o->step,
                    "minutes: rows whose minute of the hour is a multiple of N (default 1: "
                    "every row)")
        ->type_name("N");
    command.add_option("--format", o->format, "csv (UTF-8 with a byte-order mark) or xlsx")
        ->required()
        ->check(CLI::IsMember({"csv", "xlsx"}))
        ->type_name("csv|xlsx");
    command.add_option("--output", o->output, "the file to write, or - for standard output")
        ->required()
        ->type_name("FILE|-");
    command.footer("The rows, columns and captions are the query tab's for the same criteria, "
                   "ordered by time. A CSV holds the stored texts as they are; an XLSX holds "
                   "numbers as numbers and 日期时间 as a date-time.");
    return [o, &settings] { return runExport(*o, settings); };
}

} // namespace mirv::tool
