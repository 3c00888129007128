// mirv-history linkstats: the line's health hour by hour, as the station wrote it into
// Linkstats, as CSV or XLSX.
#include "command.h"
#include "export_output.h"
#include "linkstats_table.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct LinkstatsOptions {
    std::string from, to, meter, format = "csv", output = "-";
};

int runLinkstats(const LinkstatsOptions& o, const ToolSettings& settings) {
    const bool toStandardOutput = o.output == "-";
    if (toStandardOutput && o.format == "xlsx" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a workbook is not written to a terminal: use --output FILE");
    const OpenedDatabase opened = openForCommand(settings.database(), settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;
    std::vector<LinkstatsRow> rows;
    const int meter = o.meter.empty() || o.meter == "全部" ? 0 : std::stoi(o.meter);
    if (auto failed = readLinkstats(*opened.db, o.from, o.to, meter, rows))
        return report(kDataError, *failed);
    return writeTable(
        o.output, settings.station(), o.format == "xlsx", [&] { return linkstatsCsv(rows); },
        [&](const std::string& path) { return writeLinkstatsXlsx(path, rows); });
}

} // namespace

CommandRun setUpLinkstats(CLI::App& command, const ToolSettings& settings) {
    auto o = std::make_shared<LinkstatsOptions>();
    addRangeOptions(command, o->from, o->to, o->meter, "hour");
    addOutputOptions(command, o->format, o->output, false);
    command.footer("One row per polled meter and hour: requests, answers, missed polls, answers "
                   "rejected by cause, response time mean and max in milliseconds.");
    return [o, &settings] { return runLinkstats(*o, settings); };
}

} // namespace mirv::tool
