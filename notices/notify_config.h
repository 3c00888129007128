#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mirv {

// What notify.conf in the program folder asks for: which notices go out and how.
struct NotifyConfig {
    // A desktop notification while a window is open.
    bool desktop = false;

    // E-mail, batched: the addresses, the sender and the server. `smtp://host:port` speaks
    // STARTTLS, `smtps://host:port` TLS from the start; TLS is required unless `smtp_tls = off`.
    std::vector<std::string> mailTo;
    std::string mailFrom;
    std::string smtpUrl;
    bool smtpTls = true;
    std::string caFile; // the certificates trusted for the server; empty: the system's
    std::string smtpUser;
    std::string smtpPassword;

    // A command run through /bin/sh with the event in its environment, and how long it may run.
    std::string hook;
    int hookTimeoutSeconds = 10;

    bool mail() const { return !mailTo.empty(); }
};

// The configuration, or why it cannot be used ("line N: ..." where a line is at fault).
using NotifyConfigResult = std::variant<NotifyConfig, std::string>;

// Reads the text of notify.conf: `name = value` lines, blank lines and `#` comments. Files it
// names without a folder are in `folder`.
NotifyConfigResult parseNotifyConfig(std::string_view text, const std::string& folder);

// notify.conf of the program folder; nothing when there is none (no notices), an error (the
// file named) when it cannot be read or used.
std::optional<NotifyConfigResult> loadNotifyConfig(const std::string& programDir);

} // namespace mirv
