#pragma once

#include "station_feed.h"
#include "wire_frame.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTimer>
#include <array>
#include <chrono>
#include <memory>

namespace mirv {

// A window's view of the service's engine through the folder's socket: it mirrors the board,
// the marks, the message line and the settings the service sends, asks for the line's counters
// as the view reads them, and sends Save and 清零 down. When the service goes away the rows
// empty, the numbers grey and the message line says so; it connects again every second and
// shows the service's state once it is back. A service that says nothing (not even its beat)
// for wire::kSilentMs is taken as gone as well: a stopped or hung one keeps the socket open.
class AttachedFeed : public StationFeed {
    Q_OBJECT
  public:
    enum class Attach { Attached, NoService, OtherVersion };
    static constexpr int kReconnectMs = 1000;
    // How often the window looks whether the service has gone silent.
    static constexpr int kWatchMs = 500;

    explicit AttachedFeed(const QString& socketPath, QObject* parent = nullptr);
    ~AttachedFeed() override;

    // Connects and waits up to `timeout` for the service's hello and state; on OtherVersion
    // message() says the versions differ.
    Attach attach(std::chrono::milliseconds timeout);
    bool live() const { return live_; }

    // StationFeed
    const BoardRow& row(int meter) const override;
    MeterMark mark(int meter) const override;
    QString message() const override { return message_; }
    SettingsTexts settingsTexts() const override { return settings_; }
    void readLine(LineReadout& into) override;
    void clearCounters() override;
    void saveSettings(const SettingsUpdate& update) override;
    bool appliesAtOnce() const override { return true; }
    std::vector<AlarmRow> alarms() const override { return alarms_; }
    void acknowledge(int meter, const std::string& kind) override;

  private:
    void setAlarms(std::vector<AlarmRow> alarms);
    void connectNow();
    void onReadable();
    void handle(const QJsonObject& message);
    void applyState(const QJsonObject& state);
    void setRow(int meter, const BoardRow& row);
    void setMark(int meter, MeterMark mark);
    void setMessage(const QString& text);
    void send(const QJsonObject& message);
    void lost();
    void watch();

    QString path_;
    QLocalSocket socket_;
    std::unique_ptr<wire::Decoder> decoder_;
    QTimer reconnect_;
    QTimer watch_;
    // Since the service last said anything on this connection.
    QElapsedTimer heard_;
    bool greeted_ = false;
    bool live_ = false;
    bool otherVersion_ = false;
    bool lineAsked_ = false;
    bool saving_ = false;
    std::array<BoardRow, kMeters> rows_{};
    std::array<MeterMark, kMeters> marks_{};
    QString message_;
    SettingsTexts settings_;
    LineCounts counts_;
    FrameRing frames_;
    std::vector<AlarmRow> alarms_;
};

} // namespace mirv
