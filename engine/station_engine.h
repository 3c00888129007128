#pragma once

#include "event_watch.h"
#include "history_writer.h"
#include "linkstats_logger.h"
#include "message_line.h"
#include "meter_link.h"
#include "poll_timer.h"
#include "purge.h"
#include "readings_board.h"
#include "record_logger.h"
#include "record_tick.h"
#include "station_feed.h"
#include "station_port.h"

#include <QDateTime>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

namespace mirv {

// The engine's sense of time: tests give it a clock and a short minute, so that a logging pass,
// an hour's line statistics or a day's summary come without waiting.
struct EngineClock {
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    int minuteMs = 60000;
};

// The station itself: the settings read once, the port or gateway, the link and the readings
// board, the history writer and its pending rows, the record and hour timers, the line's
// statistics and their hourly rows. It publishes what changes and takes commands; the service
// runs it alone, and the window either runs it in its own process or watches the service's.
class StationEngine : public StationFeed {
    Q_OBJECT
  public:
    explicit StationEngine(const QString& programDir, EngineClock clock = {},
                           QObject* parent = nullptr);
    ~StationEngine() override;

    QString databasePath() const;
    // Reads the settings row, opens the port and starts polling, and lets rows an earlier run
    // left waiting go in. Returns what start-up's box says, empty when all went well; polling
    // has stopped for good when it is not empty.
    QString start();
    // Whether start-up found everything it needs and polling goes on.
    bool polling() const { return !link_->stopped(); }

    // StationFeed
    const BoardRow& row(int meter) const override { return board_.row(meter); }
    MeterMark mark(int meter) const override;
    QString message() const override { return QString::fromStdString(message_.text()); }
    SettingsTexts settingsTexts() const override { return texts_; }
    void readLine(LineReadout& into) override;
    void clearCounters() override;
    // The line's counters alone, and the monitor's frames, for views that keep their own ring.
    void readCounts(LineCounts& into);
    const FrameRing& frames() const { return link_->stats.frames(); }
    // Stores the settings row; a window that runs the engine itself takes them at its next
    // start, the service at once (see applySettings).
    void saveSettings(const SettingsUpdate& update) override;
    bool appliesAtOnce() const override { return applyOnSave; }
    bool applyOnSave = false;
    // Who the next Save is in the name of, when not this process's user: the service sets it
    // to the attached window's.
    std::string saveUser;

    std::vector<AlarmRow> alarms() const override { return events_.alarms(); }
    void acknowledge(int meter, const std::string& kind) override;
    // The same in the name of `user`: the operating system's name of whoever asked.
    int acknowledgeAs(int meter, const std::string& kind, const std::string& user);

    // Checks and stores the settings and takes them at once: the port, its speed, the poll and
    // record intervals and the meter count. Returns empty, or the texts the window shows.
    QString applySettings(const SettingsUpdate& update);
    PurgeResult purge();
    // Polling ends and the rows still waiting get up to `flushFor` to go in.
    void stop(std::chrono::milliseconds flushFor = std::chrono::seconds(3));
    // Ends the history writer; the rows lost (neither the database nor the pending rows file
    // took them).
    std::uint64_t finish();

    // Puts a text on the message line; the history's, the gateway's and the broker's texts lay
    // over it.
    void setMessage(const std::string& text);
    // Lays the MQTT broker's trouble over the message line; empty lifts it.
    void showBrokerState(const std::string& text);
    // Notes an event of the station itself (meter 0) in the journal, as the notices do of their
    // own.
    void noteStationEvent(const std::string& kind, const std::string& text,
                          const std::string& detail, const std::string& phase);
    const EngineClock& clock() const { return clock_; }

    // What the clock's timers call; tests may call them directly.
    void minutePassed();
    void hourPassed();

    // The parts, for the views that show more than the feed and for the tests.
    ReadingsBoard& board() { return board_; }
    MeterLink& link() { return *link_; }
    StationPort& port() { return port_; }
    HistoryWriter& historyWriter() { return *writer_; }
    RecordLogger& logger() { return *logger_; }
    PollTimer& pollTimer() { return pollTimer_; }
    QTimer& recordTimer() { return recordTimer_; }
    int portNumber() const { return portNumber_; }

  signals:
    // Journal events as they are noted (before they are written), for the notices.
    void eventsNoted(const std::vector<EventRow>& events);

  private:
    void onRowChanged(int n);
    void onPollTick();
    void journal(std::vector<EventRow> events, std::vector<AlarmRow> alarms);
    void startJournal();
    void planMeters();
    void noteSettings(const SettingsUpdate& update);
    void showHistoryState(HistoryWriter::State state);
    // Applies `change` to the message line and says the line when its text changed.
    void changeLine(const std::function<void(MessageLine&)>& change);
    void armHourTimer();
    void stopPolling();
    void openPort(int number, const std::string& baud);
    std::string localNow() const;

    QString programDir_;
    EngineClock clock_;
    ReadingsBoard board_;
    StationPort port_;
    std::unique_ptr<MeterLink> link_;
    PollTimer pollTimer_;
    QTimer recordTimer_;
    QTimer hourTimer_;
    RecordTick recordTick_;
    std::unique_ptr<HistoryWriter> writer_;
    std::unique_ptr<RecordLogger> logger_;
    std::unique_ptr<LinkstatsLogger> linkstatsLogger_;
    MessageLine message_;
    SettingsTexts texts_;
    // The record interval as it applies; its leading number counts.
    std::string recordInterval_;
    int portNumber_ = 1;
    std::array<bool, kMeters> missedLastPoll_{};
    // The Meters table's names by the address polled; empty where none is given.
    std::array<std::string, LineStats::kAddresses> meterNames_;
    EventWatch events_;
    bool journalStarted_ = false;
};

} // namespace mirv
