#pragma once

#include "broker_session.h"
#include "discovery.h"
#include "event_journal.h"
#include "meter_state.h"
#include "station_feed.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <deque>
#include <memory>
#include <optional>

namespace mirv {

// Puts a station's board on the broker: per meter its state (at most once per interval, at
// once when an alarm comes or goes) and its availability (offline while the meter is silent or
// not polled), and the dashboard's discovery for the meters the meter count polls; and the
// journal's events it is handed, each once, not retained. While the broker is away the board
// holds each meter's latest state, and everything goes out again when the connection comes
// back; the events wait in order, the latest `eventLimit` of them.
class MqttPublisher : public QObject {
    Q_OBJECT
  public:
    MqttPublisher(StationFeed& feed, const MqttConfig& config, const std::string& identity,
                  QObject* parent = nullptr);
    ~MqttPublisher() override;

    // The connection's state in one line, e.g. "connected to host:1883".
    QString status() const { return status_; }
    // Sends the events in their order, or keeps them until the broker is back.
    void publishEvents(const std::vector<EventRow>& events);

    std::size_t eventLimit = 1000;

  signals:
    // The state changed (not every retry of the same failure).
    void statusChanged(const QString& text);
    // What the message line says of the broker changed; empty once it is connected again.
    void lineChanged(const QString& text);
    // Events the broker never got: the oldest went while it was away, to keep the latest
    // `eventLimit`. Said once, when those that waited have gone out.
    void eventsDropped(qulonglong count);

  private:
    void onConnected();
    void onState(BrokerTrouble trouble, const QString& text);
    void sendEvents();
    void onRowChanged(int meter);
    void onMarkChanged(int meter);
    void onSettingsChanged();
    void publishDue();
    void publishState(int meter);
    void publishAvailability(int meter);
    void publishAll(const std::vector<Publication>& publications);
    std::optional<int> meterCount() const;
    bool online(int meter) const;

    StationFeed& feed_;
    StationTopics topics_;
    QTimer interval_;
    QString status_;
    QString line_;
    std::deque<EventRow> events_;
    std::uint64_t dropped_ = 0;
    bool connected_ = false;
    // How many meters the discovery describes; none before the settings are known.
    std::optional<int> described_;
    std::array<bool, kMeters> due_{};
    std::array<std::optional<AlarmFlags>, kMeters> sentAlarms_{};
    std::array<std::optional<bool>, kMeters> sentOnline_{};
    std::unique_ptr<BrokerSession> session_;
};

} // namespace mirv
