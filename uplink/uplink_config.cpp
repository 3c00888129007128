#include "uplink_config.h"

#include "reading_text.h"
#include "shared_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <libpq-fe.h>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <unistd.h>

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
                                           : key == "zone"     ? &zone
                                                               : nullptr;
        if (!slot)
            return ConfigError{where + "unknown setting '" + std::string(key) + "'"};
        if (*slot)
            return ConfigError{where + "'" + std::string(key) + "' is set twice"};
        *slot = std::string(trimBlanks(withoutComment(line.substr(equals + 1), slot == &conninfo)));
    }
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
    std::ifstream in(path);
    if (!in)
        return ConfigError{"cannot read " + path + ": " + std::strerror(errno)};
    std::stringstream text;
    text << in.rdbuf();
    ConfigResult result = parseUplinkConfig(text.str(), needStation);
    if (auto* error = std::get_if<ConfigError>(&result))
        error->message = path + ": " + error->message;
    return result;
}

namespace {

bool isIdentity(const std::string& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(c); });
}

std::optional<std::string> readIdentity(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!in || !(in >> text))
        return std::nullopt;
    return text;
}

} // namespace

std::variant<std::string, ConfigError> loadOrCreateIdentity(const std::string& path) {
    if (std::filesystem::exists(path)) {
        const auto text = readIdentity(path);
        if (!text || !isIdentity(*text))
            return ConfigError{path + " is damaged: it should hold 32 hex digits"};
        return *text;
    }
    std::random_device random;
    std::string identity;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        identity += part;
    }
    // Written whole under another name and linked in, so that two first runs agree and a
    // power cut leaves no half-written file.
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    {
        // Made as the station makes its files, so that every operator of a shared folder and
        // the service user can read it; synced before it is linked in.
        const int fd = openSharedFile(temporary, O_WRONLY | O_CREAT | O_TRUNC);
        const std::string line = identity + "\n";
        const bool written =
            fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            ::fsync(fd) == 0;
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        if (!written) {
            std::filesystem::remove(temporary);
            return ConfigError{"cannot write " + temporary + ": " + std::strerror(error)};
        }
    }
    const int linked = ::link(temporary.c_str(), path.c_str());
    const int error = errno;
    std::filesystem::remove(temporary);
    if (linked != 0 && error != EEXIST)
        return ConfigError{"cannot make " + path + ": " + std::strerror(error)};
    const auto text = readIdentity(path);
    if (!text || !isIdentity(*text))
        return ConfigError{path + " is damaged: it should hold 32 hex digits"};
    return *text;
}

} // namespace mirv
