#pragma once

#include "notify_config.h"

#include <QObject>
#include <memory>
#include <optional>
#include <string>

namespace mirv {

class HookRunner;
class MailNotifier;
class StationEngine;

// The notices of the engine's events, as notify.conf in the program folder asks: e-mail and the
// plant's command (the desktop's are the window's). Without the file there are none; a file
// that cannot be used is named on the message line and the station polls on without notices.
// A notifier that fails is noted in the journal once, and again when it works once more.
class StationNotices : public QObject {
    Q_OBJECT
  public:
    StationNotices(StationEngine& engine, const QString& programDir);
    ~StationNotices() override;

    // The configuration in use; nothing when notices are off.
    const std::optional<NotifyConfig>& config() const { return config_; }

  private:
    void health(bool& failing, const char* kind, const char* failed, const char* back,
                const std::optional<std::string>& failure);

    StationEngine& engine_;
    std::optional<NotifyConfig> config_;
    std::unique_ptr<MailNotifier> mail_;
    std::unique_ptr<HookRunner> hook_;
    bool mailFailing_ = false;
    bool hookFailing_ = false;
};

// What the message line says of a notify.conf that cannot be used.
std::string notifyConfigMessage(const std::string& problem);

} // namespace mirv
