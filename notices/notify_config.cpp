#include "notify_config.h"

#include "key_value_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace mirv {

namespace {

// The file's lines in the grammar of the station's other .conf files, by their one reader.
using SettingLine = KeyValueLine;

std::optional<std::string> readWhole(const std::string& path, std::string& into) {
    std::ifstream in(path);
    if (!in)
        return "cannot read " + path + ": " + std::strerror(errno);
    std::stringstream text;
    text << in.rdbuf();
    into = text.str();
    return std::nullopt;
}

// An address as a mail server takes it in RCPT TO: something@domain, no blanks or brackets.
bool isAddress(std::string_view a) {
    const auto at = a.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < a.size() &&
           a.find_first_of(" \t<>,;\"") == std::string_view::npos;
}

std::optional<std::string> onOff(std::string_view value, const std::string& key, bool& into) {
    if (value == "on" || value == "off") {
        into = value == "on";
        return std::nullopt;
    }
    return "'" + key + "' must be on or off";
}

std::optional<std::string> take(NotifyConfig& c, const SettingLine& line,
                                const std::string& folder) {
    const std::string key(line.key);
    const std::string value(line.value);
    const std::string path =
        value.empty() || value.front() == '/' || folder.empty() ? value : folder + "/" + value;
    if (key == "desktop")
        return onOff(line.value, key, c.desktop);
    if (key == "smtp_tls") {
        if (value == "required" || value == "off") {
            c.smtpTls = value == "required";
            return std::nullopt;
        }
        return std::string("'smtp_tls' must be required or off");
    }
    if (key == "mail_to") {
        std::string_view rest = line.value;
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            const std::string_view one = trimBlanks(rest.substr(0, comma));
            if (!isAddress(one))
                return "'" + std::string(one) + "' is no e-mail address";
            c.mailTo.emplace_back(one);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
        if (c.mailTo.empty())
            return std::string("'mail_to' is empty");
        return std::nullopt;
    }
    if (key == "mail_from") {
        if (!isAddress(value))
            return "'" + value + "' is no e-mail address";
        c.mailFrom = value;
        return std::nullopt;
    }
    if (key == "smtp_url") {
        if (value.rfind("smtp://", 0) != 0 && value.rfind("smtps://", 0) != 0)
            return std::string("'smtp_url' must start with smtp:// or smtps://");
        c.smtpUrl = value;
        return std::nullopt;
    }
    if (key == "smtp_user") {
        c.smtpUser = value;
        return std::nullopt;
    }
    if (key == "smtp_password_file") {
        std::string whole;
        if (auto problem = readWhole(path, whole))
            return problem;
        c.smtpPassword = whole.substr(0, whole.find('\n'));
        if (!c.smtpPassword.empty() && c.smtpPassword.back() == '\r')
            c.smtpPassword.pop_back();
        return std::nullopt;
    }
    if (key == "ca_file") {
        if (!std::ifstream(path))
            return "cannot read " + path + ": " + std::strerror(errno);
        c.caFile = path;
        return std::nullopt;
    }
    if (key == "hook") {
        if (value.empty())
            return std::string("'hook' is empty");
        c.hook = value;
        return std::nullopt;
    }
    if (key == "hook_timeout") {
        int n = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || error != std::errc() || end != value.data() + value.size() || n < 1 ||
            n > 600)
            return std::string("'hook_timeout' must be a whole number of seconds from 1 to 600");
        c.hookTimeoutSeconds = n;
        return std::nullopt;
    }
    return "unknown setting '" + key + "'";
}

} // namespace

NotifyConfigResult parseNotifyConfig(std::string_view text, const std::string& folder) {
    NotifyConfig config;
    if (auto problem = readKeyValueLines(
            text, [&](const SettingLine& line) { return take(config, line, folder); }))
        return problem->message;
    const bool mailPart = !config.mailFrom.empty() || !config.smtpUrl.empty() ||
                          !config.smtpUser.empty() || !config.caFile.empty();
    if (mailPart && !config.mail())
        return std::string("no addresses: add a line `mail_to = NAME@DOMAIN, ...`");
    if (config.mail() && config.smtpUrl.empty())
        return std::string("no mail server: add a line `smtp_url = smtp://HOST:587`");
    if (config.mail() && config.mailFrom.empty())
        return std::string("no sender: add a line `mail_from = NAME@DOMAIN`");
    if (!config.smtpTls && config.smtpUrl.rfind("smtps://", 0) == 0)
        return std::string("smtps:// is TLS from the start: it cannot go with `smtp_tls = off`");
    if (!config.smtpPassword.empty() && config.smtpUser.empty())
        return std::string("a password needs a user: add a line `smtp_user = NAME`");
    return config;
}

std::optional<NotifyConfigResult> loadNotifyConfig(const std::string& programDir) {
    const std::string path = programDir + "/notify.conf";
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error)
        return std::nullopt;
    std::string text;
    if (auto problem = readWhole(path, text))
        return NotifyConfigResult(*problem);
    NotifyConfigResult result = parseNotifyConfig(text, programDir);
    if (auto* problem = std::get_if<std::string>(&result))
        *problem = path + ": " + *problem;
    return result;
}

} // namespace mirv
