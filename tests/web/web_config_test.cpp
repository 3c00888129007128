// What web.conf may say, and which addresses count as this computer only.
#include "web_config.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

struct ConfigCase {
    const char* text;
    const char* listen;
    int port;
    const char* certificate;
    const char* problem; // empty: the text is fine
};

TEST(WebConfig, ReadsTheSettingsOrSaysWhatIsWrong) {
    const ConfigCase cases[] = {
        {"", "127.0.0.1", 8080, "", ""},
        {"# pages\nlisten = 0.0.0.0\nport = 8443  # TLS\ncertificate = c.pem\nkey = k.pem\n",
         "0.0.0.0", 8443, "c.pem", ""},
        {"listen = ::\n", "::", 8080, "", ""},
        {"listen = example\n", "", 0, "",
         "line 1: listen 'example' is no IP address such as 0.0.0.0"},
        {"\nport = 0\n", "", 0, "", "line 2: port '0' is no number from 1 to 65535"},
        {"port = 65536\n", "", 0, "", "line 1: port '65536' is no number from 1 to 65535"},
        {"port = 80x\n", "", 0, "", "line 1: port '80x' is no number from 1 to 65535"},
        {"port = 1\nport = 2\n", "", 0, "", "line 2: 'port' is set twice"},
        {"user = a\n", "", 0, "", "line 1: unknown setting 'user'"},
        {"listen\n", "", 0, "", "line 1: expected `name = value`"},
        {"certificate = c.pem\n", "", 0, "",
         "a certificate needs its key: give both `certificate = FILE` and `key = FILE`, or "
         "neither"},
    };
    for (const ConfigCase& c : cases) {
        SCOPED_TRACE(c.text);
        const WebConfigResult result = parseWebConfig(c.text);
        if (*c.problem) {
            ASSERT_TRUE(std::holds_alternative<WebConfigProblem>(result));
            EXPECT_EQ(std::get<WebConfigProblem>(result).message, c.problem);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<WebConfig>(result));
        const WebConfig& config = std::get<WebConfig>(result);
        EXPECT_EQ(config.listen, c.listen);
        EXPECT_EQ(config.port, c.port);
        EXPECT_EQ(config.certificate, c.certificate);
    }
}

TEST(WebConfig, OnlyLoopbackAddressesServeWithoutTls) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true}, {"127.1.2.3", true}, {"::1", true},        {"0.0.0.0", false},
        {"::", false},       {"10.0.0.5", false}, {"128.0.0.1", false}, {"localhost", false},
    };
    for (const auto& [address, loopback] : cases)
        EXPECT_EQ(isLoopback(address), loopback) << address;
}

} // namespace
} // namespace mirv
