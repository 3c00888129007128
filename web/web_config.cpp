#include "web_config.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

namespace mirv {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

struct SettingLine {
    int number = 0;
    std::string_view key;
    std::string_view value;
};

// The `name = value` lines of a configuration file as uplink.conf has them: blank lines and
// lines starting with `#` skipped, `#` starting a comment, a name set twice an error. `take`
// answers each setting with a problem or nothing; the first problem comes back as "line N: ...".
std::optional<std::string>
readSettingLines(std::string_view text,
                 const std::function<std::optional<std::string>(const SettingLine&)>& take) {
    std::vector<std::string> seen;
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return where + "expected `name = value`";
        const std::string_view key = trimmed(line.substr(0, equals));
        std::string_view value = line.substr(equals + 1);
        value = trimmed(value.substr(0, value.find('#')));
        for (const std::string& s : seen)
            if (s == key)
                return where + "'" + std::string(key) + "' is set twice";
        seen.emplace_back(key);
        if (auto problem = take({number, key, value}))
            return where + *problem;
    }
    return std::nullopt;
}

bool isAddress(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

} // namespace

bool isLoopback(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

WebConfigResult parseWebConfig(std::string_view text) {
    WebConfig config;
    const auto problem =
        readSettingLines(text, [&](const SettingLine& s) -> std::optional<std::string> {
            const std::string value(s.value);
            if (s.key == "listen") {
                if (!isAddress(value))
                    return "listen '" + value + "' is no IP address such as 0.0.0.0";
                config.listen = value;
            } else if (s.key == "port") {
                int port = 0;
                const auto [end, error] =
                    std::from_chars(value.data(), value.data() + value.size(), port);
                if (error != std::errc() || end != value.data() + value.size() || port < 1 ||
                    port > 65535)
                    return "port '" + value + "' is no number from 1 to 65535";
                config.port = port;
            } else if (s.key == "certificate") {
                config.certificate = value;
            } else if (s.key == "key") {
                config.key = value;
            } else {
                return "unknown setting '" + std::string(s.key) + "'";
            }
            return std::nullopt;
        });
    if (problem)
        return WebConfigProblem{*problem};
    if (config.certificate.empty() != config.key.empty())
        return WebConfigProblem{"a certificate needs its key: give both `certificate = FILE` "
                                "and `key = FILE`, or neither"};
    return config;
}

WebConfigResult loadWebConfig(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return WebConfigProblem{"cannot read " + path + ": " + std::strerror(errno)};
    std::stringstream text;
    text << in.rdbuf();
    WebConfigResult result = parseWebConfig(text.str());
    if (auto* problem = std::get_if<WebConfigProblem>(&result))
        problem->message = path + ": " + problem->message;
    return result;
}

} // namespace mirv
