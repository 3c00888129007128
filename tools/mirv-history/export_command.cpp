// mirv-history export: the query tab's selection written as CSV or XLSX.
#include "command.h"
#include "export_output.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct ExportOptions {
    std::string from, to, meter, step = "1", format, output;
};

int runExport(const ExportOptions& o, const ToolSettings& settings) {
    InterruptGuard guard;
    const HistorySelection selection = selectionFrom({o.meter, o.from, o.to, o.step});
    const bool toStandardOutput = o.output == "-";
    if (toStandardOutput && o.format == "xlsx" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a workbook is not written to a terminal: use --output FILE");

    OpenedDatabase opened = openForCommand(settings.database(), settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;

    ExportOutput output(o.output, o.format == "xlsx", settings.station());
    if (output.failure())
        return report(kDataError, *output.failure());
    ProgressLine progress(!(toStandardOutput && ::isatty(STDOUT_FILENO)));
    const ExportResult result =
        exportHistory(*opened.db, selection, output.sheet(), [&](std::int64_t rows) {
            progress.show("exported " + std::to_string(rows) + " rows");
            return !InterruptGuard::interrupted();
        });
    if (result.readFailed)
        return reportFailure(failureOf(*opened.db, settings.database(), settings.busyTimeoutMs()));
    if (result.stopped)
        return report(kDataError, "interrupted: " + output.name() + " was not written");
    if (result.writeFailed)
        return report(kDataError, "cannot write " + output.name() + ": " + *result.writeFailed);
    if (auto failed = output.complete())
        return report(kDataError, *failed);
    progress.show("exported " + std::to_string(result.rows) + " rows to " + output.name(), true);
    return kSuccess;
}

} // namespace

CommandRun setUpExport(CLI::App& command, const ToolSettings& settings) {
    auto o = std::make_shared<ExportOptions>();
    addRangeOptions(command, o->from, o->to, o->meter);
    command
        .add_option("--step", o->step,
                    "minutes: rows whose minute of the hour is a multiple of N (default 1: "
                    "every row)")
        ->check(stepMinutes())
        ->type_name("N");
    addOutputOptions(command, o->format, o->output);
    command.footer("The rows, columns and captions are the query tab's for the same criteria, "
                   "ordered by time. A CSV holds the stored texts as they are; an XLSX holds "
                   "numbers as numbers and 日期时间 as a date-time.");
    return [o, &settings] { return runExport(*o, settings); };
}

} // namespace mirv::tool
