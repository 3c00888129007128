#include "key_value_file.h"

#include "shared_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <unistd.h>

namespace mirv {

std::string_view trimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

namespace {

// The value without its comment; with `quotesMatter`, a `#` inside a single-quoted part (where
// a backslash escapes the next character) belongs to the value.
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

} // namespace

std::optional<ConfigError>
readKeyValueLines(std::string_view text,
                  const std::function<std::optional<std::string>(const KeyValueLine&)>& take,
                  const std::function<bool(std::string_view key)>& quotesMatter) {
    std::set<std::string, std::less<>> seen;
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
        KeyValueLine setting;
        setting.number = lineNumber;
        setting.key = trimBlanks(line.substr(0, equals));
        setting.value = trimBlanks(
            withoutComment(line.substr(equals + 1), quotesMatter && quotesMatter(setting.key)));
        if (seen.count(setting.key))
            return ConfigError{where + "'" + std::string(setting.key) + "' is set twice"};
        if (auto problem = take(setting))
            return ConfigError{where + *problem};
        seen.emplace(setting.key);
    }
    return std::nullopt;
}

std::variant<std::string, ConfigError> readConfigFile(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return ConfigError{"cannot read " + path + ": " + std::strerror(errno)};
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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
