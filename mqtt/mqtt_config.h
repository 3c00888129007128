#pragma once

#include "key_value_file.h"

#include <string>
#include <string_view>
#include <variant>

namespace mirv {

// What mqtt.conf says: the broker, the topics' prefix, how often a meter's readings go out at
// most, the TLS files (TLS is on when `caFile` is set), the login and the quality of service.
struct MqttConfig {
    std::string host = "localhost";
    int port = 0; // 0: 1883, or 8883 with TLS
    std::string prefix = "mirv";
    int intervalSeconds = 10;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string user;
    std::string password; // read from the password file
    std::string clientId; // empty: made from the station's identity
    int qos = 0;

    int portOrDefault() const { return port ? port : caFile.empty() ? 1883 : 8883; }
};

using MqttConfigResult = std::variant<MqttConfig, ConfigError>;

// Reads the text of mqtt.conf (`name = value` lines as in uplink.conf): host, port, prefix,
// interval, ca_file, cert_file, key_file, user, password_file, client_id, qos. Files are read
// (the password) or checked (TLS) at once, relative to `folder` unless named from the root; a
// problem names its line.
MqttConfigResult parseMqttConfig(std::string_view text, const std::string& folder = ".");

// Reads the file at `path` and parses it; a problem names the file.
MqttConfigResult loadMqttConfig(const std::string& path);

} // namespace mirv
