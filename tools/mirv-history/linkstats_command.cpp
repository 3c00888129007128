// mirv-history linkstats: the line's health hour by hour, as the station wrote it into
// Linkstats, as CSV or XLSX.
#include "command.h"
#include "linkstats_table.h"
#include "replacing_file.h"
#include "tool_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct LinkstatsOptions {
    std::string from, to, meter, format = "csv", output = "-";
};

int runLinkstats(const LinkstatsOptions& o, const ToolSettings& settings) {
    std::string usage;
    const auto from = readDateOption("--from", o.from, usage);
    const auto to = from ? readDateOption("--to", o.to, usage) : std::nullopt;
    if (!from || !to)
        return report(kUsageError, usage);
    int meter = 0;
    if (!o.meter.empty() && o.meter != "全部") {
        try {
            std::size_t used = 0;
            meter = std::stoi(o.meter, &used);
            if (used != o.meter.size() || meter < 1 || meter > 255)
                throw std::invalid_argument(o.meter);
        } catch (const std::exception&) {
            return report(kUsageError, "--meter takes a meter number from 1 to 255");
        }
    }
    const bool toStandardOutput = o.output == "-";
    if (toStandardOutput && o.format == "xlsx" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a workbook is not written to a terminal: use --output FILE");
    const OpenedDatabase opened = openForCommand(settings.database(), settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;
    std::vector<LinkstatsRow> rows;
    if (auto failed = readLinkstats(*opened.db, *from, *to, meter, rows))
        return report(kDataError, *failed);

    if (o.format == "csv" && toStandardOutput) {
        const std::string bytes = linkstatsCsv(rows);
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
            std::fflush(stdout) != 0)
            return report(kDataError, "cannot write standard output");
        return kSuccess;
    }
    ReplacingFile file(toStandardOutput ? temporaryFile(".xlsx") : o.output);
    if (!file.ok())
        return report(kDataError, file.error());
    std::optional<std::string> failed;
    if (o.format == "csv") {
        const std::string bytes = linkstatsCsv(rows);
        for (std::size_t done = 0; done < bytes.size() && !failed;) {
            const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failed = std::string(std::strerror(errno ? errno : EIO));
            else
                done += static_cast<std::size_t>(n);
        }
    } else {
        failed = writeLinkstatsXlsx(file.path(), rows);
    }
    const std::string name = toStandardOutput ? "standard output" : o.output;
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

} // namespace

CommandRun setUpLinkstats(CLI::App& command, const ToolSettings& settings) {
    auto o = std::make_shared<LinkstatsOptions>();
    command.add_option("--from", o->from, "first hour included: YYYY-MM-DD [HH:MM[:SS]]")
        ->required()
        ->type_name("DATE");
    command.add_option("--to", o->to, "last hour included (a date alone is its midnight)")
        ->required()
        ->type_name("DATE");
    command.add_option("--meter", o->meter, "one meter's rows; empty or 全部 for all (default)");
    command
        .add_option("--format", o->format, "csv (UTF-8 with a byte-order mark, default) or xlsx")
        ->check(CLI::IsMember({"csv", "xlsx"}))
        ->type_name("csv|xlsx");
    command
        .add_option("--output", o->output,
                    "the file to write, or - for standard output "
                    "(default)")
        ->type_name("FILE|-");
    command.footer("One row per polled meter and hour: requests, answers, missed polls, answers "
                   "rejected by cause, response time mean and max in milliseconds.");
    return [o, &settings] { return runLinkstats(*o, settings); };
}

} // namespace mirv::tool
