#pragma once

#include "notify_config.h"

#include <atomic>
#include <optional>
#include <string>

namespace mirv {

// Hands `message` to the configured server for every address (blocking: run it off the event
// thread). TLS as the configuration asks. Returns why it failed, or nothing; gives up when
// `cancel` turns true.
std::optional<std::string> sendMail(const NotifyConfig& config, const std::string& message,
                                    const std::atomic<bool>& cancel);

} // namespace mirv
