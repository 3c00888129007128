// mirv-history: the station's history without the window, for cron and for the operator.
#include "command.h"
#include "option_grammar.h"
#include "tool_support.h"

#include <iostream>
#include <sqlite3.h>
#include <vector>

using namespace mirv::tool;

int main(int argc, char** argv) {
    // One thread: SQLite's per-call mutexes cost a tenth of an export's time.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    ToolSettings settings;
    CLI::App app("Exports, backs up and prunes the station's history. The database is mirv.mdb "
                 "beside this program unless --db names another; it is never created.",
                 "mirv-history");
    app.fallthrough(); // the common options may follow the command too
    app.set_version_flag("--version", "mirv-history " MIRV_VERSION);
    app.require_subcommand(1, 1);
    app.add_option("--db", settings.databasePath, "the station's database file")
        ->check(filePath())
        ->type_name("PATH")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--timeout", settings.timeoutSeconds,
                   "seconds to wait for a lock another program holds (default 10)")
        ->check(timeoutRange())
        ->type_name("SECONDS")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.footer("No output is written over the database, the files beside it (-wal, -shm, "
               "-journal, the pending rows) or the station's own files (uplink.id, uplink.conf, "
               "mirv-station.lock, notify.conf, mqtt.conf, web.conf, the programs), by any name "
               "or link.\n"
               "Exit status: 0 done, 1 usage error, 2 database or file error.\n"
               "Run 'mirv-history COMMAND --help' for a command's options.");

    std::vector<std::pair<CLI::App*, CommandRun>> commands;
    for (const CommandEntry& entry : kCommands) {
        CLI::App* command = app.add_subcommand(entry.name, entry.summary);
        commands.emplace_back(command, entry.setUp(*command, settings));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kSuccess;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        const auto chosen = app.get_subcommands();
        if (chosen.empty() && !app.remaining().empty())
            return report(kUsageError, "unknown command '" + app.remaining().front() +
                                           "' (see mirv-history --help)");
        const std::string helpOf = chosen.empty() ? "" : " " + chosen.front()->get_name();
        return report(kUsageError,
                      std::string(e.what()) + " (see mirv-history" + helpOf + " --help)");
    }
    for (const auto& [command, run] : commands)
        if (command->parsed()) {
            if (const int refused = checkOutputs(*command, settings))
                return refused;
            return run();
        }
    return kUsageError;
}
