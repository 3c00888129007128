#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mirv {

// Why a configuration file cannot be used, in one line for the operator.
struct ConfigError {
    std::string message;
};

// The text without the blanks (spaces, tabs, line ends) around it.
std::string_view trimBlanks(std::string_view text);

// One `name = value` line of a configuration file; the value without its blanks and comment.
struct KeyValueLine {
    int number = 0;
    std::string_view key;
    std::string_view value;
};

// Reads the lines of a `name = value` file (uplink.conf, mqtt.conf): blank lines and lines
// starting with `#` are skipped, `#` starts a comment (outside single quotes, where a backslash
// escapes the next character, for the keys where `quotesMatter`), and a name set twice is an
// error. `take` is handed each setting and answers with a problem or nothing. The first problem
// comes back as "line N: ...".
std::optional<ConfigError>
readKeyValueLines(std::string_view text,
                  const std::function<std::optional<std::string>(const KeyValueLine&)>& take,
                  const std::function<bool(std::string_view key)>& quotesMatter = {});

// The whole text of the file at `path`, or why it cannot be read (the path named).
std::variant<std::string, ConfigError> readConfigFile(const std::string& path);

// The identity of the program folder's station, kept in the file at `path` (32 hex digits),
// made at random when there is no file yet; a file that cannot be made or read is an error.
std::variant<std::string, ConfigError> loadOrCreateIdentity(const std::string& path);

} // namespace mirv
