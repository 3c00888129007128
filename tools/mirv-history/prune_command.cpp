// mirv-history prune --before DATE [--yes]: deletes old history in short transactions.
#include "batched_prune.h"
#include "command.h"
#include "day_summary_store.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <iostream>
#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

struct PruneArguments {
    std::string before;
    bool yes = false;
};

std::string deletedLine(std::int64_t rows, const std::string& before) {
    return "deleted " + std::to_string(rows) + (rows == 1 ? " history row" : " history rows") +
           " stamped before " + before;
}

bool confirmed(std::int64_t rows, const std::string& before, const std::string& path) {
    std::fprintf(stderr, "Delete %lld history row%s stamped before %s from %s? [y/N] ",
                 static_cast<long long>(rows), rows == 1 ? "" : "s", before.c_str(), path.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

int runPrune(const PruneArguments& a, const ToolSettings& settings) {
    InterruptGuard guard;
    const std::string& before = a.before;
    if (!a.yes && ::isatty(STDIN_FILENO) != 1)
        return report(kUsageError, "not asking without a terminal: add --yes to delete");
    const std::string path = settings.database();
    OpenedDatabase opened = openForCommand(path, settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;
    Database& db = *opened.db;

    const auto count = countHistoryBefore(db, before);
    if (!count)
        return reportFailure(failureOf(db, path, settings.busyTimeoutMs()));
    if (*count == 0) {
        std::printf("%s\n", deletedLine(0, before).c_str());
        return kSuccess;
    }
    if (!a.yes && !confirmed(*count, before, path))
        return report(kUsageError, "nothing deleted");

    ProgressLine progress;
    PruneOptions options;
    options.progress = [&](std::int64_t deleted) {
        progress.show("deleted " + std::to_string(deleted) + " of " + std::to_string(*count) +
                      " rows");
        return !InterruptGuard::interrupted();
    };
    const PruneResult result = pruneHistoryBefore(db, before, options);
    progress.clear();
    if (result.deleted > 0 || !result.failed) {
        std::printf("%s\n", deletedLine(result.deleted, before).c_str());
        std::fflush(stdout);
    }
    if (result.failed)
        return reportFailure(failureOf(db, path, settings.busyTimeoutMs()));
    if (result.stopped)
        return report(kDataError, "interrupted: the older rows left are still there");
    // The deletion marked the pruned days' summaries stale; sum them up again now rather than
    // at the station's next start, so that energy over those days is read from summaries.
    progress.show("summing up the pruned days again", true);
    const auto summaries =
        buildDaySummaries(path, &InterruptGuard::flag(), settings.busyTimeoutMs());
    progress.clear();
    if (summaries)
        return report(kDataError,
                      "the daily summaries could not be brought up to date (the station does it "
                      "at its next start): " +
                          *summaries);
    if (InterruptGuard::interrupted())
        return report(kDataError, "interrupted: the daily summaries are brought up to date at "
                                  "the station's next start");
    return kSuccess;
}

} // namespace

CommandRun setUpPrune(CLI::App& command, const ToolSettings& settings) {
    auto a = std::make_shared<PruneArguments>();
    command.add_option("--before", a->before, "delete rows stamped before this date-time")
        ->required()
        ->transform(dateTime())
        ->type_name("DATE");
    command.add_flag("--yes", a->yes, "delete without asking (needed without a terminal)");
    command.footer("Rows go a few thousand a transaction, so that the station's logging never "
                   "waits long, then the daily summaries of the pruned days are summed up again. "
                   "The settings table is never touched. Without --yes it asks on the terminal "
                   "first.");
    return [a, &settings] { return runPrune(*a, settings); };
}

} // namespace mirv::tool
