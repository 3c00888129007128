#pragma once

#include "event_journal.h"

#include <QObject>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace mirv {

class DesktopNotifier;
class StationEngine;
class StationFeed;
class StationNotices;

// The alarms of `now` that the operator has not heard of: active and unacknowledged, and either
// not so in `before` or come back more often since.
std::vector<AlarmRow> newAlarms(const std::vector<AlarmRow>& before,
                                const std::vector<AlarmRow>& now);

// The window's notices as notify.conf asks: a desktop notification for each alarm that begins
// or comes back, from whichever engine the window shows; and when the window runs the engine
// itself, the engine's e-mail and command notices too. A notifier that fails is noted in the
// window's engine's journal when it has one, else on standard error, once until it works again.
class WindowNotices : public QObject {
    Q_OBJECT
  public:
    WindowNotices(StationFeed& feed, StationEngine* engine, const QString& programDir);
    ~WindowNotices() override;

  private:
    void onAlarmsChanged();
    void desktopHealth(const std::optional<std::string>& failure);

    StationFeed& feed_;
    StationEngine* engine_;
    std::unique_ptr<StationNotices> station_;
    std::unique_ptr<DesktopNotifier> desktop_;
    std::vector<AlarmRow> known_;
    bool desktopFailing_ = false;
};

} // namespace mirv
