#pragma once

#include "back_off.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace mirv {

// Shows desktop notifications through the session bus's notification service
// (org.freedesktop.Notifications.Notify), one call at a time and asynchronously: the window
// never waits for the service. A call that fails is made again after a back-off.
class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    explicit DesktopNotifier(int minuteMs, QObject* parent = nullptr);

    void notify(const QString& summary, const QString& body);

    // After each call's answer: why it failed, or nothing.
    std::function<void(const std::optional<std::string>& failure)> outcome;

    // Notifications kept at most while the service fails; the oldest go first.
    static constexpr std::size_t kMostWaiting = 20;

  private:
    void sendNext();
    void answered(const std::optional<std::string>& failure);

    std::deque<std::pair<QString, QString>> waiting_;
    BackOff backOff_;
    QTimer retryTimer_;
    bool calling_ = false;
};

} // namespace mirv
