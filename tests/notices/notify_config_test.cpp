#include "notify_config.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

struct Refused {
    const char* text;
    const char* problem;
};

class NotifyConfigRefused : public testing::TestWithParam<Refused> {};

TEST_P(NotifyConfigRefused, NamesTheLineOrWhatIsMissing) {
    const auto result = parseNotifyConfig(GetParam().text, "");
    ASSERT_TRUE(std::holds_alternative<std::string>(result));
    EXPECT_EQ(std::get<std::string>(result), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Files, NotifyConfigRefused,
    testing::Values(
        Refused{"desktop = on\nhook\n", "line 2: expected `name = value`"},
        Refused{"# notices\n\ndesktop = yes\n", "line 3: 'desktop' must be on or off"},
        Refused{"hook = a\nhook = b\n", "line 2: 'hook' is set twice"},
        Refused{"sms = 1\n", "line 1: unknown setting 'sms'"},
        Refused{"mail_to = ops@plant.example, night shift\n",
                "line 1: 'night shift' is no e-mail address"},
        Refused{"smtp_url = http://mail\n",
                "line 1: 'smtp_url' must start with smtp:// or smtps://"},
        Refused{"hook_timeout = 0\n",
                "line 1: 'hook_timeout' must be a whole number of seconds from 1 to 600"},
        Refused{"mail_to = a@b.example\nmail_from = s@b.example\n",
                "no mail server: add a line `smtp_url = smtp://HOST:587`"},
        Refused{"smtp_url = smtp://mail:587\n",
                "no addresses: add a line `mail_to = NAME@DOMAIN, ...`"},
        Refused{"mail_to = a@b.example\nmail_from = s@b.example\nsmtp_url = smtps://m:465\n"
                "smtp_tls = off\n",
                "smtps:// is TLS from the start: it cannot go with `smtp_tls = off`"}));

TEST(NotifyConfig, ReadsEverySetting) {
    const auto result = parseNotifyConfig("desktop = on   # while a window is open\n"
                                          "mail_to = ops@plant.example, lead@plant.example\n"
                                          "mail_from = station@plant.example\n"
                                          "smtp_url = smtp://mail.plant.example:587\n"
                                          "hook = /usr/local/bin/sms-gateway --urgent\n"
                                          "hook_timeout = 30\n",
                                          "");
    ASSERT_TRUE(std::holds_alternative<NotifyConfig>(result)) << std::get<std::string>(result);
    const auto& c = std::get<NotifyConfig>(result);
    EXPECT_TRUE(c.desktop);
    EXPECT_EQ(c.mailTo, (std::vector<std::string>{"ops@plant.example", "lead@plant.example"}));
    EXPECT_EQ(c.mailFrom, "station@plant.example");
    EXPECT_EQ(c.smtpUrl, "smtp://mail.plant.example:587");
    EXPECT_TRUE(c.smtpTls);
    EXPECT_EQ(c.hook, "/usr/local/bin/sms-gateway --urgent");
    EXPECT_EQ(c.hookTimeoutSeconds, 30);
}

} // namespace
} // namespace mirv
