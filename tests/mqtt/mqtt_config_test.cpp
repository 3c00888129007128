// mqtt.conf: what each setting gives, and every problem named by its line.
#include "mqtt_config.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace mirv {
namespace {

TEST(MqttConfig, ReadsEverySettingAndFilesBesideIt) {
    test::TempDir dir;
    std::ofstream(dir.str() + "/pw") << "pa ss#1\n";
    std::ofstream(dir.str() + "/ca.pem") << "-";
    std::ofstream(dir.str() + "/me.pem") << "-";
    std::ofstream(dir.str() + "/me.key") << "-";
    const auto result = parseMqttConfig("# broker\n"
                                        "host = broker.plant  # the plant's\n"
                                        "port=8884\n"
                                        "prefix = plant/west\n"
                                        "interval = 30\n"
                                        "ca_file = ca.pem\n"
                                        "cert_file = me.pem\n"
                                        "key_file = " +
                                            dir.str() +
                                            "/me.key\n"
                                            "user = west\n"
                                            "password_file = pw\n"
                                            "client_id = west-1\n"
                                            "qos = 1\n",
                                        dir.str());
    const auto* c = std::get_if<MqttConfig>(&result);
    ASSERT_NE(c, nullptr) << std::get<ConfigError>(result).message;
    EXPECT_EQ(c->host, "broker.plant");
    EXPECT_EQ(c->portOrDefault(), 8884);
    EXPECT_EQ(c->prefix, "plant/west");
    EXPECT_EQ(c->intervalSeconds, 30);
    EXPECT_EQ(c->caFile, dir.str() + "/ca.pem");
    EXPECT_EQ(c->certFile, dir.str() + "/me.pem");
    EXPECT_EQ(c->keyFile, dir.str() + "/me.key");
    EXPECT_EQ(c->user, "west");
    EXPECT_EQ(c->password, "pa ss#1");
    EXPECT_EQ(c->clientId, "west-1");
    EXPECT_EQ(c->qos, 1);

    const auto defaults = std::get<MqttConfig>(parseMqttConfig(""));
    EXPECT_EQ(defaults.host, "localhost");
    EXPECT_EQ(defaults.portOrDefault(), 1883);
    EXPECT_EQ(defaults.qos, 0);
}

TEST(MqttConfig, RefusesAFileNamingTheLine) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"host = a\nqos = 3\n", "line 2: 'qos' must be a whole number from 0 to 2"},
        {"port = 0\n", "line 1: 'port' must be a whole number from 1 to 65535"},
        {"interval = 1.5\n", "line 1: 'interval' must be a whole number from 1 to 86400"},
        {"\nbroker = x\n", "line 2: unknown setting 'broker'"},
        {"host = a\nhost = b\n", "line 2: 'host' is set twice"},
        {"prefix = plant/#\n", "line 1: 'prefix' must be a topic such as plant/station, "
                               "without + # or a leading or trailing /"},
        {"host\n", "line 1: expected `name = value`"},
        {"user = u\npassword_file = /nonexistent/pw\n",
         "line 2: cannot read /nonexistent/pw: No such file or directory"},
        {"ca_file = /nonexistent/ca\n", "line 1: cannot read /nonexistent/ca: No such file or "
                                        "directory"},
    };
    for (const auto& c : cases) {
        const auto result = parseMqttConfig(c.text);
        const auto* error = std::get_if<ConfigError>(&result);
        ASSERT_NE(error, nullptr) << c.text;
        EXPECT_EQ(error->message, c.message);
    }
}

} // namespace
} // namespace mirv
