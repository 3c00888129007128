#include "window_notices.h"

#include "desktop_notifier.h"
#include "engine_clock_env.h"
#include "events_tab.h"
#include "station_engine.h"
#include "station_notices.h"

#include <cstdio>

namespace mirv {

std::vector<AlarmRow> newAlarms(const std::vector<AlarmRow>& before,
                                const std::vector<AlarmRow>& now) {
    std::map<std::pair<int, std::string>, const AlarmRow*> was;
    for (const auto& a : before)
        was[{a.meter, a.kind}] = &a;
    std::vector<AlarmRow> fresh;
    for (const auto& a : now) {
        if (a.state != "active-unacknowledged")
            continue;
        const auto it = was.find({a.meter, a.kind});
        if (it == was.end() || it->second->state != a.state || it->second->repeats < a.repeats)
            fresh.push_back(a);
    }
    return fresh;
}

WindowNotices::WindowNotices(StationFeed& feed, StationEngine* engine, const QString& programDir)
    : feed_(feed), engine_(engine) {
    std::optional<NotifyConfig> config;
    if (engine_) {
        station_ = std::make_unique<StationNotices>(*engine_, programDir);
        config = station_->config();
    } else if (auto loaded = loadNotifyConfig(programDir.toStdString())) {
        // The service the window is attached to says so on its own message line.
        if (auto* c = std::get_if<NotifyConfig>(&*loaded))
            config = *c;
    }
    if (!config || !config->desktop)
        return;
    desktop_ = std::make_unique<DesktopNotifier>(engine_ ? engine_->clock().minuteMs
                                                         : engineClockFromEnvironment().minuteMs);
    desktop_->outcome = [this](const std::optional<std::string>& f) { desktopHealth(f); };
    known_ = feed_.alarms();
    connect(&feed_, &StationFeed::alarmsChanged, this, &WindowNotices::onAlarmsChanged);
}

WindowNotices::~WindowNotices() = default;

void WindowNotices::onAlarmsChanged() {
    std::vector<AlarmRow> now = feed_.alarms();
    for (const auto& a : newAlarms(known_, now)) {
        QString body = QStringLiteral("报警中,未确认");
        if (a.repeats > 0)
            body += QStringLiteral(",重复%1次").arg(a.repeats);
        desktop_->notify(QStringLiteral("仪表%1").arg(a.meter) +
                             QString::fromUtf8(alarmKindText(a.kind)),
                         body + QStringLiteral("\n") + QString::fromStdString(a.began));
    }
    known_ = std::move(now);
}

void WindowNotices::desktopHealth(const std::optional<std::string>& failure) {
    if (failure.has_value() == desktopFailing_)
        return;
    desktopFailing_ = failure.has_value();
    if (engine_)
        engine_->noteStationEvent("notify-desktop",
                                  desktopFailing_ ? "桌面通知失败" : "桌面通知已恢复",
                                  failure.value_or(""), desktopFailing_ ? "begin" : "end");
    else if (failure)
        std::fprintf(stderr, "mirv-station: desktop notification failed: %s\n", failure->c_str());
}

} // namespace mirv
