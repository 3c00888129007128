// E-mail to an SMTP sink the test starts (aiosmtpd, STARTTLS required, a certificate made for
// the test): the first event at once, the ones after it together five minutes later.
#include "child_process.h"
#include "free_port.h"
#include "mail_notifier.h"
#include "temp_dir.h"

#include <QByteArray>
#include <QTest>
#include <arpa/inet.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace mirv {
namespace {

bool accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// The mails the sink took, their bodies decoded, in the order they came.
std::vector<std::string> mailBodies(const std::filesystem::path& maildir) {
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> mails;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(maildir / "new", ec)) {
        std::ifstream in(f.path());
        std::stringstream text;
        text << in.rdbuf();
        const std::string all = text.str();
        const auto blank = all.find("\n\n");
        const std::string body = blank == std::string::npos ? "" : all.substr(blank + 2);
        mails.emplace_back(f.last_write_time(),
                           QByteArray::fromBase64(QByteArray::fromStdString(body)).toStdString());
    }
    std::sort(mails.begin(), mails.end());
    std::vector<std::string> bodies;
    for (auto& m : mails)
        bodies.push_back(m.second);
    return bodies;
}

EventRow event(const char* time, int meter, const char* text) {
    return {time, "", meter, "silent", "begin", text, "", ""};
}

TEST(Mail, OverStartTlsAtMostOneMailPerFiveMinutes) {
    test::TempDir dir;
    const std::string cert = dir.str() + "/cert.pem", key = dir.str() + "/key.pem";
    test::ChildProcess openssl(test::withLog(
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
         "-keyout", key, "-out", cert},
        dir.str() + "/openssl.log"));
    ASSERT_EQ(openssl.waitForExit(std::chrono::seconds(30)), 0);
    const int port = test::freeLoopbackPort();
    const auto maildir = dir.path() / "mail";
    test::ChildProcess sink(test::withLog(
        {"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port),
         "--tlscert", cert, "--tlskey", key, "-c", "aiosmtpd.handlers.Mailbox", maildir.string()},
        dir.str() + "/sink.log"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepts(port); }, 10000));

    NotifyConfig config;
    config.mailTo = {"ops@plant.example"};
    config.mailFrom = "station@plant.example";
    config.smtpUrl = "smtp://127.0.0.1:" + std::to_string(port);
    config.caFile = cert;
    MailNotifier mail(config, 60000);
    std::int64_t now = 0;
    mail.nowMs = [&] { return now; };
    std::vector<std::optional<std::string>> outcomes;
    mail.outcome = [&](const std::optional<std::string>& f) { outcomes.push_back(f); };

    mail.add({event("2026-03-01 08:00:00", 3, "仪表3通讯中断")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return mailBodies(maildir).size() == 1; }, 10000))
        << "outcome: " << (outcomes.empty() ? "none" : outcomes.back().value_or("sent"));
    now = 60000;
    mail.add({event("2026-03-01 08:01:00", 4, "仪表4通讯中断")});
    mail.add({event("2026-03-01 08:01:10", 3, "仪表3通讯恢复")});
    QTest::qWait(300);
    EXPECT_EQ(mailBodies(maildir).size(), 1u);

    now = 300000; // five minutes after the first mail
    mail.sendWaiting();
    ASSERT_TRUE(QTest::qWaitFor([&] { return mailBodies(maildir).size() == 2; }, 10000));
    EXPECT_EQ(mailBodies(maildir),
              (std::vector<std::string>{"2026-03-01 08:00:00  仪表3  仪表3通讯中断\r\n",
                                        "2026-03-01 08:01:00  仪表4  仪表4通讯中断\r\n"
                                        "2026-03-01 08:01:10  仪表3  仪表3通讯恢复\r\n"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcomes.size() == 2; }, 5000));
    EXPECT_EQ(outcomes, (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
}

} // namespace
} // namespace mirv
