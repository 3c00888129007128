#pragma once

#include "alarm_condition.h"
#include "event_journal.h"
#include "readings_board.h"
#include "station_feed.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace mirv {

// The kinds of alarm a meter has: silent, then the five flags of its status in the order the
// board writes them.
constexpr int kAlarmKinds = 6;
extern const std::array<const char*, kAlarmKinds> kAlarmKindNames;

// Watches what the engine sees and writes the journal: each meter's alarms (silent, and the
// flags of its status) through their delays and states, and the station's own events. Every
// change goes out through `write` as journal rows and alarm states, for the history writer.
class EventWatch {
  public:
    // `now` gives the local and the UTC time of an event.
    struct Stamp {
        std::string local, utc;
    };
    std::function<Stamp()> now;
    std::function<void(std::vector<EventRow>, std::vector<AlarmRow>)> write;

    // A meter is silent after three missed polls in a row (one that never answered since the
    // start included) and back after three answers in a row, so a meter that answers every
    // other poll neither raises nor ends an alarm at each poll. A status flag begins with the
    // answer that shows it and ends after three answers without it.
    explicit EventWatch(AlarmDelays silent = {3, 3}, AlarmDelays flags = {1, 3});

    // One poll of board row `meter`: answered with `row`, or missed.
    void polled(int meter, bool answered, const BoardRow& row);
    // The port (or the gateway) lost and back; the database unavailable and back, with how
    // many rows had waited for it.
    void lineUp(const std::string& kind, bool up);
    void databaseUp(bool up, std::size_t rowsWaited);
    void note(int meter, const std::string& kind, const std::string& text,
              const std::string& detail = {}, const std::string& user = {},
              const std::string& phase = "note");

    // Acknowledges one alarm (meter and kind) or, with meter 0, every one; how many changed.
    int acknowledge(int meter, const std::string& kind, const std::string& user);
    // Alarm states an earlier run stored.
    void restore(const std::vector<AlarmRow>& rows);
    // Every alarm that is not normal, by meter and kind.
    std::vector<AlarmRow> alarms() const;
    MeterAlarm meterAlarm(int meter) const;

  private:
    struct Alarm {
        AlarmCondition condition;
        AlarmRow row;
    };
    Alarm& alarm(int meter, int kind) {
        return alarms_[static_cast<std::size_t>((meter - 1) * kAlarmKinds + kind)];
    }
    const Alarm& alarm(int meter, int kind) const {
        return alarms_[static_cast<std::size_t>((meter - 1) * kAlarmKinds + kind)];
    }
    void observe(int meter, int kind, bool present);
    AlarmRow stateRow(const Alarm& a, const Stamp& at) const;

    std::vector<Alarm> alarms_;
    std::array<bool, 4> lineDown_{};
    bool databaseDown_ = false;
};

} // namespace mirv
