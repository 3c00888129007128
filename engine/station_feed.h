#pragma once

#include "event_journal.h"
#include "line_readout.h"
#include "readings_board.h"
#include "settings_row.h"

#include <QObject>
#include <QString>
#include <optional>
#include <string>

namespace mirv {

// How a board row's number is shown: greyed when the row is not polled, red while its meter
// misses its polls.
// Unacknowledged and acknowledged alarms of the meter show apart.
enum class MeterAlarm { None, Unacknowledged, Acknowledged };

struct MeterMark {
    bool polled = false;
    bool silent = false;
    MeterAlarm alarm = MeterAlarm::None;
    bool operator==(const MeterMark&) const = default;
};

// What the 系统设置 fields show: the settings as they apply. A field without a value keeps what
// the window shows before start-up (the database could not be read).
struct SettingsTexts {
    std::optional<std::string> pollInterval;   // milliseconds
    std::optional<std::string> recordInterval; // minutes
    std::optional<std::string> meterCount;
    std::optional<std::string> baud;
    std::optional<int> port; // 1..10 is shown in the port box
    bool operator==(const SettingsTexts&) const = default;
};

// What a view sees of a station and what it may ask of it, the same whether the engine runs in
// the view's own process or in the service the view is attached to. Everything is read and
// raised on the event thread.
class StationFeed : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    virtual const BoardRow& row(int meter) const = 0;
    virtual MeterMark mark(int meter) const = 0;
    virtual QString message() const = 0;
    virtual SettingsTexts settingsTexts() const = 0;
    // Brings `into` up to date with the line's counters and frames. An attached view gets what
    // the service last sent and asks for the next.
    virtual void readLine(LineReadout& into) = 0;

    virtual void clearCounters() = 0;
    // Stores the settings; the engine takes them at once or at the next start (appliesAtOnce).
    // The answer comes with settingsSaved: empty, or the failure's description.
    virtual void saveSettings(const SettingsUpdate& update) = 0;
    virtual bool appliesAtOnce() const = 0;

    // Every alarm that is not normal, by meter and kind.
    virtual std::vector<AlarmRow> alarms() const { return {}; }
    // Acknowledges one alarm, or with meter 0 every one, in the name of the operator.
    virtual void acknowledge(int /*meter*/, const std::string& /*kind*/) {}

  signals:
    void rowChanged(int meter);
    void markChanged(int meter);
    void messageChanged(const QString& text);
    void settingsChanged();
    void settingsSaved(const QString& failure);
    void alarmsChanged();
};

} // namespace mirv
