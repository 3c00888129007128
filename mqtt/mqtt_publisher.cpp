#include "mqtt_publisher.h"

#include "broker_line.h"
#include "event_message.h"
#include "leading_number.h"

#include <algorithm>

namespace mirv {

namespace {

std::size_t slot(int meter) {
    return static_cast<std::size_t>(meter - 1);
}

bool isEmpty(const BoardRow& row) {
    return std::all_of(row.begin(), row.end(), [](const std::string& t) { return t.empty(); });
}

} // namespace

MqttPublisher::MqttPublisher(StationFeed& feed, const MqttConfig& config,
                             const std::string& identity, QObject* parent)
    : QObject(parent), feed_(feed), topics_{config.prefix, identity} {
    interval_.setInterval(config.intervalSeconds * 1000);
    connect(&interval_, &QTimer::timeout, this, &MqttPublisher::publishDue);
    interval_.start();
    connect(&feed_, &StationFeed::rowChanged, this, &MqttPublisher::onRowChanged);
    connect(&feed_, &StationFeed::markChanged, this, &MqttPublisher::onMarkChanged);
    connect(&feed_, &StationFeed::settingsChanged, this, &MqttPublisher::onSettingsChanged);

    BrokerSession::Events events;
    // The session's thread hands its news to this object's thread.
    events.connected = [this] {
        QMetaObject::invokeMethod(this, &MqttPublisher::onConnected, Qt::QueuedConnection);
    };
    events.state = [this](BrokerTrouble trouble, const std::string& text) {
        QMetaObject::invokeMethod(
            this, [this, trouble, line = QString::fromStdString(text)] { onState(trouble, line); },
            Qt::QueuedConnection);
    };
    const std::string clientId =
        config.clientId.empty() ? "mirv-" + identity.substr(0, 16) : config.clientId;
    session_ = std::make_unique<BrokerSession>(config, clientId, topics_.status(), events);
}

MqttPublisher::~MqttPublisher() = default;

void MqttPublisher::onState(BrokerTrouble trouble, const QString& text) {
    if (trouble != BrokerTrouble::None)
        connected_ = false;
    if (text != status_) {
        status_ = text;
        emit statusChanged(text);
    }
    // A lost connection and the failed attempts after it say the same on the line.
    const QString line = QString::fromStdString(brokerLineText(trouble, session_->where()));
    if (line != line_) {
        line_ = line;
        emit lineChanged(line);
    }
}

void MqttPublisher::publishEvents(const std::vector<EventRow>& events) {
    for (const EventRow& e : events) {
        while (!events_.empty() && events_.size() >= eventLimit) {
            events_.pop_front();
            ++dropped_;
        }
        events_.push_back(e);
    }
    sendEvents();
}

void MqttPublisher::sendEvents() {
    while (connected_ && !events_.empty()) {
        const EventRow& e = events_.front();
        const QByteArray json = eventJson(e);
        if (!session_->publish(topics_.events(), json, false))
            return;
        if (e.meter > 0)
            session_->publish(topics_.events(e.meter), json, false);
        events_.pop_front();
    }
    if (connected_ && dropped_) {
        emit eventsDropped(dropped_);
        dropped_ = 0;
    }
}

std::optional<int> MqttPublisher::meterCount() const {
    const auto count = feed_.settingsTexts().meterCount;
    if (!count)
        return std::nullopt;
    // As the link polls: row 1 whatever the count says.
    return static_cast<int>(std::clamp(leadingNumber(*count), 1.0, double(kMeters)));
}

bool MqttPublisher::online(int meter) const {
    const MeterMark mark = feed_.mark(meter);
    return mark.polled && !mark.silent;
}

void MqttPublisher::onConnected() {
    connected_ = true;
    described_.reset();
    sentOnline_.fill(std::nullopt);
    sentAlarms_.fill(std::nullopt);
    onSettingsChanged();
    sendEvents();
}

void MqttPublisher::onSettingsChanged() {
    const auto count = meterCount();
    if (!connected_ || !count || count == described_)
        return;
    publishAll({stationDiscovery(topics_)});
    // Meters beyond the count leave the dashboard; after a restart the earlier count is not
    // known, so every meter beyond it is cleared.
    const int before = described_.value_or(kMeters);
    for (int n = 1; n <= std::max(before, *count); ++n) {
        if (n <= *count && (!described_ || n > *described_))
            publishAll(meterDiscovery(topics_, n));
        else if (n > *count) {
            publishAll(meterRemoval(topics_, n));
            sentAlarms_[slot(n)].reset();
            sentOnline_[slot(n)].reset();
        }
    }
    described_ = count;
    for (int n = 1; n <= *count; ++n) {
        publishAvailability(n);
        if (!sentAlarms_[slot(n)])
            publishState(n);
    }
}

void MqttPublisher::onRowChanged(int meter) {
    const BoardRow& row = feed_.row(meter);
    if (isEmpty(row))
        return;
    due_[slot(meter)] = true;
    const auto& sent = sentAlarms_[slot(meter)];
    if (!sent || *sent != alarmFlags(row))
        publishState(meter);
}

void MqttPublisher::onMarkChanged(int meter) {
    publishAvailability(meter);
}

void MqttPublisher::publishDue() {
    for (int n = 1; n <= kMeters; ++n)
        if (due_[slot(n)])
            publishState(n);
}

void MqttPublisher::publishState(int meter) {
    const BoardRow& row = feed_.row(meter);
    if (!connected_ || isEmpty(row) || !described_ || meter > *described_)
        return;
    if (session_->publish(topics_.state(meter), stateJson(row), true)) {
        due_[slot(meter)] = false;
        sentAlarms_[slot(meter)] = alarmFlags(row);
    }
}

void MqttPublisher::publishAvailability(int meter) {
    const bool isOnline = online(meter);
    if (!connected_ || sentOnline_[slot(meter)] == isOnline || !described_ || meter > *described_)
        return;
    if (session_->publish(topics_.availability(meter), isOnline ? "online" : "offline", true))
        sentOnline_[slot(meter)] = isOnline;
}

void MqttPublisher::publishAll(const std::vector<Publication>& publications) {
    for (const Publication& p : publications)
        session_->publish(p.topic, p.payload, p.retain);
}

} // namespace mirv
