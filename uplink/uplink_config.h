#pragma once

#include "key_value_file.h"

#include <string>
#include <string_view>
#include <variant>

namespace mirv {

// What uplink.conf says: the name this station's rows carry centrally, how to reach the
// server (a libpq key=value string or URI, never holding a password) and, optionally, the
// station's time zone (a tz database name; empty: the system's).
struct UplinkConfig {
    std::string station;
    std::string conninfo;
    std::string zone;
};

using ConfigResult = std::variant<UplinkConfig, ConfigError>;

// Reads the text of uplink.conf: lines `station = NAME`, `conninfo = ...` and `zone = AREA/CITY`,
// blank lines, and `#` starting a comment (outside single quotes in the conninfo). Unknown or
// repeated settings, a missing station name (unless `needStation` is false) or conninfo, a
// malformed conninfo, a password in it and a zone that is no tz database name are errors.
ConfigResult parseUplinkConfig(std::string_view text, bool needStation = true);

// Reads the file at `path` and parses it; a file that cannot be read is an error too.
ConfigResult loadUplinkConfig(const std::string& path, bool needStation = true);

} // namespace mirv
