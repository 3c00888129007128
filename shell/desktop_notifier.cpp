#include "desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace mirv {

DesktopNotifier::DesktopNotifier(int minuteMs, QObject* parent)
    : QObject(parent), backOff_(minuteMs / 2, std::int64_t{30} * minuteMs) {
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &DesktopNotifier::sendNext);
}

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    waiting_.emplace_back(summary, body);
    while (waiting_.size() > kMostWaiting)
        waiting_.pop_front();
    if (!calling_ && !retryTimer_.isActive())
        sendNext();
}

void DesktopNotifier::sendNext() {
    if (calling_ || waiting_.empty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        answered("no session bus: " + bus.lastError().message().toStdString());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app name, replaces id, icon, summary, body, actions, hints (urgency critical), expiry
    // (-1: the server's)
    call << QStringLiteral("mirv-station") << 0u << QString() << waiting_.front().first
         << waiting_.front().second << QStringList()
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)}} << -1;
    calling_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        calling_ = false;
        answered(reply.isError() ? std::optional<std::string>(reply.error().message().toStdString())
                                 : std::nullopt);
    });
}

void DesktopNotifier::answered(const std::optional<std::string>& failure) {
    if (failure) {
        retryTimer_.start(static_cast<int>(backOff_.failed()));
    } else {
        backOff_.succeeded();
        waiting_.pop_front();
    }
    if (outcome)
        outcome(failure);
    if (!failure)
        sendNext();
}

} // namespace mirv
