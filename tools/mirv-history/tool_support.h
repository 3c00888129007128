#pragma once

#include "command.h"
#include "station_database.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace mirv::tool {

// One line on standard error: "mirv-history: <message>". Returns `status`.
int report(int status, const std::string& message);
int reportFailure(const DatabaseFailure& failure);

// Declares `path` an output of `command` (a file name, or - for standard output):
// checkOutputs refuses it when it would write over one of the station's files, before the
// command opens anything (OutputFile refuses it again when it is made).
void addOutputPath(const CLI::App& command, const std::string& path);
// kSuccess when every output of the command that ran may be written; otherwise one line on
// standard error and kDataError.
int checkOutputs(const CLI::App& command, const ToolSettings& settings);

// Opens the station database for a command; on failure reports it (status kDataError).
OpenedDatabase openForCommand(const std::string& path, int busyTimeoutMs);

// A progress line on standard error, rewritten in place at most a few times a second; silent
// unless standard error is a terminal.
class ProgressLine {
  public:
    // `wanted` false keeps it silent, e.g. while the output itself goes to the terminal.
    explicit ProgressLine(bool wanted = true);
    ~ProgressLine(); // ends the line
    void show(const std::string& text, bool now = false);
    // Wipes the line, for output that follows on standard output.
    void clear();

  private:
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// SIGINT, SIGTERM and SIGHUP only raise a flag while one of these lives, so that a command
// can clean up; the destructor restores the defaults and re-raises a signal that came.
class InterruptGuard {
  public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    static bool interrupted();
    // The same, for work that watches a cancel flag.
    static const std::atomic<bool>& flag();
};

} // namespace mirv::tool
