#include "web_config.h"

#include "key_value_file.h"

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
        readKeyValueLines(text, [&](const KeyValueLine& s) -> std::optional<std::string> {
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
        return WebConfigProblem{problem->message};
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
