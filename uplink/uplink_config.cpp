#include "uplink_config.h"

#include <cctype>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <optional>

namespace mirv {

namespace {

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

// A tz database name: letters, digits and `_+-` in parts joined by `/`, none of them `..`.
bool isZoneName(const std::string& zone) {
    if (zone.empty() || zone.front() == '/' || zone.back() == '/' ||
        zone.find("..") != std::string::npos || zone.find("//") != std::string::npos)
        return false;
    for (const char c : zone)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("_+-/", c))
            return false;
    return true;
}

} // namespace

ConfigResult parseUplinkConfig(std::string_view text, bool needStation) {
    std::optional<std::string> station;
    std::optional<std::string> conninfo;
    std::optional<std::string> zone;
    const auto lineProblem = readKeyValueLines(
        text,
        [&](const KeyValueLine& setting) -> std::optional<std::string> {
            std::optional<std::string>* slot = setting.key == "station"    ? &station
                                               : setting.key == "conninfo" ? &conninfo
                                               : setting.key == "zone"     ? &zone
                                                                           : nullptr;
            if (!slot)
                return "unknown setting '" + std::string(setting.key) + "'";
            *slot = std::string(setting.value);
            return std::nullopt;
        },
        [](std::string_view key) { return key == "conninfo"; });
    if (lineProblem)
        return *lineProblem;
    if (needStation && (!station || station->empty()))
        return ConfigError{"no station name: add a line `station = NAME`"};
    if (zone && !isZoneName(*zone))
        return ConfigError{"zone '" + *zone + "' is no time zone name such as Europe/Berlin"};
    if (!conninfo)
        return ConfigError{"no server: add a line `conninfo = host=... dbname=... user=...`"};
    if (auto problem = conninfoProblem(*conninfo))
        return ConfigError{*problem};
    return UplinkConfig{station.value_or(""), *conninfo, zone.value_or("")};
}

ConfigResult loadUplinkConfig(const std::string& path, bool needStation) {
    auto text = readConfigFile(path);
    if (auto* error = std::get_if<ConfigError>(&text))
        return *error;
    ConfigResult result = parseUplinkConfig(std::get<std::string>(text), needStation);
    if (auto* error = std::get_if<ConfigError>(&result))
        error->message = path + ": " + error->message;
    return result;
}

} // namespace mirv
