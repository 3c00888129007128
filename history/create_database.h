#pragma once

#include <atomic>
#include <optional>
#include <string>

namespace mirv {

// Creates a new database file from the schema text. Never touches an existing file: returns
// the failure's description when the file is already there or cannot be made.
std::optional<std::string> createDatabase(const std::string& path, const std::string& schemaSql);

// Brings a database made by an older build up to date: WAL journal, the indexes the
// history queries rely on, the Linkstats table and the (empty) Meters table. Quick when they are
// there already; building an index on years of history takes seconds, so callers run it off the
// event thread. Setting `cancel` from another thread stops a build in progress (it is done again
// next time). Waits at most `busyTimeoutMs` for a database another connection holds.
std::optional<std::string> upgradeDatabase(const std::string& path,
                                           const std::atomic<bool>* cancel = nullptr,
                                           int busyTimeoutMs = 1000);

} // namespace mirv
