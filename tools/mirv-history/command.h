#pragma once

#include "protected_files.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace mirv::tool {

// Exit statuses of mirv-history.
constexpr int kSuccess = 0;
constexpr int kUsageError = 1;
constexpr int kDataError = 2; // the database or a file

// Options every command takes.
struct ToolSettings {
    std::string databasePath; // empty: mirv.mdb in the tool's own folder
    double timeoutSeconds = 10;

    std::string database() const;
    // The files no output may be written over: the database's and the program folder's.
    ProtectedFiles station() const;
    int busyTimeoutMs() const { return static_cast<int>(timeoutSeconds * 1000); }
};

// A command adds its options to its CLI11 subcommand and returns what runs it once the
// command line has been parsed.
using CommandRun = std::function<int()>;
using CommandSetUp = CommandRun (*)(CLI::App& command, const ToolSettings& settings);

struct CommandEntry {
    const char* name;
    const char* summary;
    CommandSetUp setUp;
};

CommandRun setUpExport(CLI::App& command, const ToolSettings& settings);
CommandRun setUpBackup(CLI::App& command, const ToolSettings& settings);
CommandRun setUpPrune(CLI::App& command, const ToolSettings& settings);
CommandRun setUpEnergy(CLI::App& command, const ToolSettings& settings);
CommandRun setUpLinkstats(CLI::App& command, const ToolSettings& settings);
CommandRun setUpEvents(CLI::App& command, const ToolSettings& settings);

// The commands in the order --help lists them. A new command is a set-up function in a file
// of its own and a line here.
inline constexpr CommandEntry kCommands[] = {
    {"export", "write the history selected by meter, dates and step as CSV or XLSX", setUpExport},
    {"backup", "copy the database into FILE while the station runs, then check the copy",
     setUpBackup},
    {"energy", "write the energy used per meter between two dates as CSV or XLSX", setUpEnergy},
    {"prune", "delete the history rows stamped before a date", setUpPrune},
    {"linkstats", "write the line's health per meter and hour as CSV or XLSX", setUpLinkstats},
    {"events", "write the station's event journal between two times as CSV or XLSX",
     setUpEvents},
};

} // namespace mirv::tool
