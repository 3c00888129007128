#include "station_notices.h"

#include "hook_runner.h"
#include "mail_notifier.h"
#include "station_engine.h"

namespace mirv {

std::string notifyConfigMessage(const std::string& problem) {
    return "通知设置有误,未发通知:" + problem;
}

StationNotices::StationNotices(StationEngine& engine, const QString& programDir) : engine_(engine) {
    auto loaded = loadNotifyConfig(programDir.toStdString());
    if (!loaded)
        return;
    if (auto* problem = std::get_if<std::string>(&*loaded)) {
        engine_.setMessage(notifyConfigMessage(*problem));
        return;
    }
    config_ = std::get<NotifyConfig>(*loaded);
    const int minuteMs = engine_.clock().minuteMs;
    if (config_->mail()) {
        mail_ = std::make_unique<MailNotifier>(*config_, minuteMs);
        mail_->outcome = [this](const std::optional<std::string>& failure) {
            health(mailFailing_, "notify-mail", "邮件通知发送失败", "邮件通知已恢复", failure);
        };
        connect(&engine_, &StationEngine::eventsNoted, mail_.get(), &MailNotifier::add);
    }
    if (!config_->hook.empty()) {
        hook_ = std::make_unique<HookRunner>(config_->hook, config_->hookTimeoutSeconds * 1000,
                                             minuteMs);
        hook_->outcome = [this](const std::optional<std::string>& failure) {
            health(hookFailing_, "notify-hook", "通知命令执行失败", "通知命令已恢复", failure);
        };
        connect(&engine_, &StationEngine::eventsNoted, hook_.get(), &HookRunner::add);
    }
}

StationNotices::~StationNotices() = default;

void StationNotices::health(bool& failing, const char* kind, const char* failed, const char* back,
                            const std::optional<std::string>& failure) {
    if (failure.has_value() == failing)
        return;
    failing = failure.has_value();
    engine_.noteStationEvent(kind, failing ? failed : back, failure.value_or(""),
                             failing ? "begin" : "end");
}

} // namespace mirv
