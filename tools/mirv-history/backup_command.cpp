// mirv-history backup FILE: a checked copy of the database while the station writes.
#include "command.h"
#include "online_backup.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <memory>
#include <unistd.h>

namespace mirv::tool {

namespace {

int runBackup(const std::string& target, const ToolSettings& settings) {
    InterruptGuard guard;
    if (target == "-" && ::isatty(STDOUT_FILENO))
        return report(kUsageError, "a database is not written to a terminal: give a FILE");
    const std::string path = settings.database();
    OpenedDatabase opened = openForCommand(path, settings.busyTimeoutMs());
    if (!opened.db)
        return kDataError;
    ProgressLine progress;
    BackupOptions options;
    options.station = settings.station();
    options.progress = [&](int copied, int total) {
        if (copied == total)
            progress.show("checking the copy", true);
        else
            progress.show("copied " + std::to_string(total ? copied * 100LL / total : 0) + " %");
        return !InterruptGuard::interrupted();
    };
    const BackupResult result =
        backupDatabase(*opened.db, path, target, settings.busyTimeoutMs(), options);
    if (result.failure)
        return reportFailure(*result.failure);
    if (result.stopped)
        return report(kDataError, "interrupted: " + target + " was not written");
    progress.show("backed up " + path + " into " + target, true);
    return kSuccess;
}

} // namespace

CommandRun setUpBackup(CLI::App& command, const ToolSettings& settings) {
    auto target = std::make_shared<std::string>();
    command
        .add_option("FILE", *target,
                    "where the copy goes (replaced only by a good copy), or - for standard output")
        ->required()
        ->check(filePath())
        ->type_name("FILE");
    addOutputPath(command, *target);
    command.footer("The copy is the database as it was when the backup began; the station "
                   "goes on logging meanwhile. It replaces FILE only after PRAGMA "
                   "integrity_check passed on it.");
    return [target, &settings] { return runBackup(*target, settings); };
}

} // namespace mirv::tool
