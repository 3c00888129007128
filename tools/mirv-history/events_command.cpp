// mirv-history events: the station's event journal (alarms, outages, starts and stops, saves,
// purges) between two times, as CSV or XLSX.
#include "command.h"
#include "event_table.h"
#include "export_output.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct EventsOptions {
    std::string from, to, meter, format = "csv", output = "-";
};

int runEvents(const EventsOptions& o, const ToolSettings& settings) {
    if (o.output == "-" && o.format == "xlsx" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a workbook is not written to a terminal: use --output FILE");
    const OpenedDatabase opened = openForCommand(settings.database(), settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;
    std::vector<EventRow> rows;
    const int meter = o.meter.empty() || o.meter == "全部" ? 0 : std::stoi(o.meter);
    if (auto failed = readEvents(*opened.db, o.from, o.to, meter, rows))
        return report(kDataError, *failed);
    return writeTable(
        o.output, settings.station(), o.format == "xlsx", [&] { return eventsCsv(rows); },
        [&](const std::string& path) { return writeEventsXlsx(path, rows); });
}

} // namespace

CommandRun setUpEvents(CLI::App& command, const ToolSettings& settings) {
    auto o = std::make_shared<EventsOptions>();
    addRangeOptions(command, o->from, o->to, o->meter);
    addOutputOptions(command, o->format, o->output, false);
    command.footer("One row per event in the order the station wrote them: local time, UTC, "
                   "meter (empty for the station itself), kind, phase (begin, end, repeat, ack, "
                   "note), text, detail and the user who acknowledged, saved or purged.");
    return [o, &settings] { return runEvents(*o, settings); };
}

} // namespace mirv::tool
