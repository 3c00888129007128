#include "mqtt_config.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

namespace mirv {

namespace {

std::optional<int> wholeNumber(std::string_view text, int lowest, int highest) {
    int n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < lowest ||
        n > highest)
        return std::nullopt;
    return n;
}

std::optional<std::string> unreadable(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
}

// A topic level path of its own: no wildcards, no empty levels at either end.
bool isTopicPrefix(std::string_view prefix) {
    return !prefix.empty() && prefix.front() != '/' && prefix.back() != '/' &&
           prefix.find_first_of("+#") == std::string_view::npos;
}

std::optional<std::string> take(MqttConfig& c, const KeyValueLine& line,
                                const std::string& folder) {
    const std::string value(line.value);
    // Files named without a folder are in the configuration's.
    const std::string path =
        value.empty() || value.front() == '/' || folder.empty() ? value : folder + "/" + value;
    const std::string key(line.key);
    auto number = [&](int& into, int lowest, int highest) -> std::optional<std::string> {
        const auto n = wholeNumber(line.value, lowest, highest);
        if (!n)
            return "'" + key + "' must be a whole number from " + std::to_string(lowest) + " to " +
                   std::to_string(highest);
        into = *n;
        return std::nullopt;
    };
    auto file = [&](std::string& into) {
        into = path;
        return unreadable(path);
    };
    if (key == "host") {
        if (value.empty())
            return std::string("'host' is empty");
        c.host = value;
        return std::nullopt;
    }
    if (key == "port")
        return number(c.port, 1, 65535);
    if (key == "interval")
        return number(c.intervalSeconds, 1, 86400);
    if (key == "qos")
        return number(c.qos, 0, 2);
    if (key == "prefix") {
        if (!isTopicPrefix(value))
            return "'prefix' must be a topic such as plant/station, without + # or a leading "
                   "or trailing /";
        c.prefix = value;
        return std::nullopt;
    }
    if (key == "ca_file")
        return file(c.caFile);
    if (key == "cert_file")
        return file(c.certFile);
    if (key == "key_file")
        return file(c.keyFile);
    if (key == "user") {
        c.user = value;
        return std::nullopt;
    }
    if (key == "client_id") {
        c.clientId = value;
        return std::nullopt;
    }
    if (key == "password_file") {
        auto text = readConfigFile(path);
        if (auto* error = std::get_if<ConfigError>(&text))
            return error->message;
        const std::string& whole = std::get<std::string>(text);
        c.password = whole.substr(0, whole.find('\n'));
        if (!c.password.empty() && c.password.back() == '\r')
            c.password.pop_back();
        return std::nullopt;
    }
    return "unknown setting '" + key + "'";
}

} // namespace

MqttConfigResult parseMqttConfig(std::string_view text, const std::string& folder) {
    MqttConfig config;
    if (auto problem = readKeyValueLines(
            text, [&](const KeyValueLine& line) { return take(config, line, folder); }))
        return *problem;
    if (config.certFile.empty() != config.keyFile.empty())
        return ConfigError{"'cert_file' and 'key_file' go together"};
    if (!config.certFile.empty() && config.caFile.empty())
        return ConfigError{"a client certificate needs TLS: add a line `ca_file = ...`"};
    if (!config.password.empty() && config.user.empty())
        return ConfigError{"a password needs a user: add a line `user = NAME`"};
    return config;
}

MqttConfigResult loadMqttConfig(const std::string& path) {
    auto text = readConfigFile(path);
    if (auto* error = std::get_if<ConfigError>(&text))
        return *error;
    const auto slash = path.rfind('/');
    MqttConfigResult result = parseMqttConfig(
        std::get<std::string>(text), slash == std::string::npos ? "." : path.substr(0, slash));
    if (auto* error = std::get_if<ConfigError>(&result))
        error->message = path + ": " + error->message;
    return result;
}

} // namespace mirv
