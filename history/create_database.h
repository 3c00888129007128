#pragma once

#include <optional>
#include <string>

namespace mirv {

// Creates a new database file from the schema text. Never touches an existing file: returns
// the failure's description when the file is already there or cannot be made.
std::optional<std::string> createDatabase(const std::string& path, const std::string& schemaSql);

// Brings a database made by an older build up to date: WAL journal and the indexes the
// history queries rely on. Quick when they are there already.
std::optional<std::string> upgradeDatabase(const std::string& path);

} // namespace mirv
