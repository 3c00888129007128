// mirv-history energy: the energy table of the 能耗与趋势 tab, as CSV (the tab's own bytes) or
// XLSX.
#include "command.h"
#include "energy_csv.h"
#include "energy_table.h"
#include "energy_xlsx.h"
#include "export_output.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <atomic>
#include <cmath>
#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct EnergyOptions {
    std::string from, to, meter, format, output;
};

int runEnergy(const EnergyOptions& o, const ToolSettings& settings) {
    InterruptGuard guard;
    const bool toStandardOutput = o.output == "-";
    if (toStandardOutput && o.format == "xlsx" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a workbook is not written to a terminal: use --output FILE");
    // The same checks and messages as every command for a missing or foreign file.
    if (!openForCommand(settings.database(), settings.busyTimeoutMs()).db)
        return kDataError;

    ProgressLine progress(!(toStandardOutput && ::isatty(STDOUT_FILENO)));
    std::atomic_bool cancel{false};
    const EnergyUse use = computeEnergyUse(
        settings.database(), selectionFrom({o.meter, o.from, o.to, "1"}),
        [&](double fraction) {
            progress.show("read " + std::to_string(std::lround(fraction * 100)) + " %");
            if (InterruptGuard::interrupted())
                cancel = true;
        },
        &cancel);
    progress.clear();
    if (use.status == PassStatus::Cancelled)
        return report(kDataError, "interrupted: " + o.output + " was not written");
    if (use.status == PassStatus::Failed)
        return report(kDataError, use.error);
    return writeTable(
        o.output, settings.station(), o.format == "xlsx",
        [&] { return energyCsv(use.meters, use.names); },
        [&](const std::string& path) {
            return writeEnergyXlsx(path, energyTableTexts(use.meters, use.names));
        });
}

} // namespace

CommandRun setUpEnergy(CLI::App& command, const ToolSettings& settings) {
    auto o = std::make_shared<EnergyOptions>();
    addRangeOptions(command, o->from, o->to, o->meter);
    addOutputOptions(command, o->format, o->output);
    command.footer("One row per meter with records in the range and a 合计 row: the energy and "
                   "volume each used (rises of its totals; a total that went down counts as a "
                   "step back), its first and last record, the longest gap. The CSV is the "
                   "energy tab's own, byte for byte.");
    return [o, &settings] { return runEnergy(*o, settings); };
}

} // namespace mirv::tool
