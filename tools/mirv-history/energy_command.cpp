// mirv-history energy: the energy table of the 能耗与趋势 tab, as CSV (the tab's own bytes) or
// XLSX.
#include "command.h"
#include "energy_csv.h"
#include "energy_table.h"
#include "energy_xlsx.h"
#include "replacing_file.h"
#include "tool_support.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct EnergyOptions {
    std::string from, to, meter, format, output;
};

std::optional<std::string> writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::string(std::strerror(errno ? errno : EIO));
        done += static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

// The table into the output: a file that appears only when complete, or standard output.
int writeTable(const EnergyOptions& o, const std::vector<MeterEnergy>& meters) {
    const bool toStandardOutput = o.output == "-";
    const std::string name = toStandardOutput ? "standard output" : o.output;
    if (o.format == "csv" && toStandardOutput) {
        if (auto failed = writeAll(STDOUT_FILENO, energyCsv(meters)))
            return report(kDataError, "cannot write standard output: " + *failed);
        return kSuccess;
    }
    ReplacingFile file(toStandardOutput ? temporaryFile(".xlsx") : o.output);
    if (!file.ok())
        return report(kDataError, file.error());
    const auto failed = o.format == "csv" ? writeAll(file.fd(), energyCsv(meters))
                                          : writeEnergyXlsx(file.path(), energyTableTexts(meters));
    if (failed)
        return report(kDataError, "cannot write " + name + ": " + *failed);
    if (toStandardOutput)
        return copyFileToStandardOutput(file.path())
                   ? kSuccess
                   : report(kDataError, "cannot write standard output");
    if (auto notPlaced = file.commit())
        return report(kDataError, *notPlaced);
    return kSuccess;
}

int runEnergy(const EnergyOptions& o, const ToolSettings& settings) {
    InterruptGuard guard;
    std::string usage;
    if (!readDateOption("--from", o.from, usage) || !readDateOption("--to", o.to, usage))
        return report(kUsageError, usage);
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
    return writeTable(o, use.meters);
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
