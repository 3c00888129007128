#include "uplink_config.h"

#include "reading_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <libpq-fe.h>
#include <memory>
#include <optional>
#include <sstream>

namespace mirv {

namespace {

// The value without its comment. In a conninfo, a `#` inside a single-quoted value (where a
// backslash escapes the next character) belongs to the value.
std::string_view withoutComment(std::string_view value, bool quotesMatter) {
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quotesMatter && quoted && c == '\\')
            ++i;
        else if (quotesMatter && c == '\'')
            quoted = !quoted;
        else if (c == '#' && !quoted)
            return value.substr(0, i);
    }
    return value;
}

// Why libpq cannot use the conninfo, or that it carries a password; nothing when it is fine.
std::optional<std::string> conninfoProblem(const std::string& conninfo) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(
        PQconninfoParse(conninfo.c_str(), &error), PQconninfoFree);
    if (!options) {
        const std::string why(error ? trimBlanks(error) : std::string_view("out of memory"));
        PQfreemem(error);
        return "conninfo cannot be read: " + why;
    }
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o)
        if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val)
            return "conninfo must not hold a password: put it in the password file "
                   "(~/.pgpass or PGPASSFILE) or in PGPASSWORD";
    return std::nullopt;
}

} // namespace

ConfigResult parseUplinkConfig(std::string_view text) {
    std::optional<std::string> station;
    std::optional<std::string> conninfo;
    int lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        const std::string_view line = trimBlanks(raw);
        if (line.empty() || line.front() == '#')
            continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return ConfigError{where + "expected `name = value`"};
        const std::string_view key = trimBlanks(line.substr(0, equals));
        std::optional<std::string>* slot = key == "station"    ? &station
                                           : key == "conninfo" ? &conninfo
                                                               : nullptr;
        if (!slot)
            return ConfigError{where + "unknown setting '" + std::string(key) + "'"};
        if (*slot)
            return ConfigError{where + "'" + std::string(key) + "' is set twice"};
        *slot = std::string(trimBlanks(withoutComment(line.substr(equals + 1), slot == &conninfo)));
    }
    if (!station || station->empty())
        return ConfigError{"no station name: add a line `station = NAME`"};
    if (!conninfo)
        return ConfigError{"no server: add a line `conninfo = host=... dbname=... user=...`"};
    if (auto problem = conninfoProblem(*conninfo))
        return ConfigError{*problem};
    return UplinkConfig{*station, *conninfo};
}

ConfigResult loadUplinkConfig(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return ConfigError{"cannot read " + path + ": " + std::strerror(errno)};
    std::stringstream text;
    text << in.rdbuf();
    ConfigResult result = parseUplinkConfig(text.str());
    if (auto* error = std::get_if<ConfigError>(&result))
        error->message = path + ": " + error->message;
    return result;
}

} // namespace mirv
