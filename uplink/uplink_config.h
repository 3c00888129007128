#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace mirv {

// What uplink.conf says: the name this station's rows carry centrally and how to reach the
// server (a libpq key=value string or URI, never holding a password).
struct UplinkConfig {
    std::string station;
    std::string conninfo;
};

// Why a configuration cannot be used, in one line for the operator.
struct ConfigError {
    std::string message;
};

using ConfigResult = std::variant<UplinkConfig, ConfigError>;

// Reads the text of uplink.conf: lines `station = NAME` and `conninfo = ...`, blank lines, and
// `#` starting a comment (outside single quotes in the conninfo). Unknown or repeated settings,
// a missing station name or conninfo, a malformed conninfo and a password in it are errors.
ConfigResult parseUplinkConfig(std::string_view text);

// Reads the file at `path` and parses it; a file that cannot be read is an error too.
ConfigResult loadUplinkConfig(const std::string& path);

} // namespace mirv
