#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace mirv {

// What web.conf says: where the pages are served and, for TLS, the certificate and its key
// (PEM files; a relative path is taken from the program folder).
struct WebConfig {
    std::string listen = "127.0.0.1";
    int port = 8080;
    std::string certificate;
    std::string key;
};

// Why web.conf cannot be used, in one line for the operator.
struct WebConfigProblem {
    std::string message;
};

using WebConfigResult = std::variant<WebConfig, WebConfigProblem>;

// Reads the text of web.conf: lines `listen = ADDRESS`, `port = N`, `certificate = PATH` and
// `key = PATH` in the `name = value` form of uplink.conf. A certificate without its key (or the
// other way round), a port outside 1..65535 and an address that is no IP address are errors.
WebConfigResult parseWebConfig(std::string_view text);
// Reads the file at `path` and parses it; a file that cannot be read is an error too.
WebConfigResult loadWebConfig(const std::string& path);

// Whether `address` only reaches this computer (127.0.0.0/8 or ::1).
bool isLoopback(const std::string& address);

} // namespace mirv
