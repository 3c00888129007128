#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace mirv::tool {

// The grammar of mirv-history's option values. Every option that takes a value is checked by
// one of these while CLI11 reads the command line, so that nonsense is a usage error in one
// line naming the option, before anything is opened or written.

// A date-time as the query tab reads it, YYYY-MM-DD [HH:MM[:SS]]; the value becomes the
// stored form, e.g. 2026-05-06 00:00:00.
CLI::Validator dateTime();
// The minutes between exported rows: a whole number from 1 to 60.
CLI::Validator stepMinutes();
// Empty or 全部 for all meters, or one meter's number from 1 to 255 (the value becomes the
// number as logged, without spaces or leading zeros).
CLI::Validator meterNumber();
// A file name that is not empty.
CLI::Validator filePath();
// Seconds above 0, at most a day.
CLI::Validator timeoutRange();

// --from DATE, --to DATE (both required, --from not later than --to) and --meter.
void addRangeOptions(CLI::App& command, std::string& from, std::string& to, std::string& meter,
                     const std::string& unit = "date-time");
// --format csv|xlsx and --output FILE|-, declared as the command's output; both required
// unless a default is given.
void addOutputOptions(CLI::App& command, std::string& format, std::string& output,
                      bool required = true);

} // namespace mirv::tool
