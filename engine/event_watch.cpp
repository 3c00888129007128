#include "event_watch.h"

#include <algorithm>

namespace mirv {

const std::array<const char*, kAlarmKinds> kAlarmKindNames{
    "silent", "alarm-excite", "alarm-electrode", "alarm-empty-pipe", "alarm-upper", "alarm-lower"};

namespace {

// What the operator reads of each kind; the flags as the board's status cell writes them.
const std::array<const char*, kAlarmKinds> kAlarmTexts{"通讯中断", "励磁报警", "电极报警",
                                                       "空管报警", "上限报警", "下限报警"};

std::string meterText(int meter, int kind) {
    return "仪表" + std::to_string(meter) + kAlarmTexts[static_cast<std::size_t>(kind)];
}

} // namespace

EventWatch::EventWatch(AlarmDelays silent, AlarmDelays flags) {
    alarms_.reserve(static_cast<std::size_t>(kMeters * kAlarmKinds));
    for (int m = 1; m <= kMeters; ++m)
        for (int k = 0; k < kAlarmKinds; ++k) {
            alarms_.push_back({AlarmCondition(k == 0 ? silent : flags), {}});
            Alarm& a = alarms_.back();
            a.row.meter = m;
            a.row.kind = kAlarmKindNames[static_cast<std::size_t>(k)];
        }
}

void EventWatch::polled(int meter, bool answered, const BoardRow& row) {
    if (!ReadingsBoard::isMeter(meter))
        return;
    observe(meter, 0, !answered);
    if (!answered)
        return; // a missed poll tells nothing of the flags
    const std::string& status = row[StatusCell];
    for (int k = 1; k < kAlarmKinds; ++k)
        observe(meter, k,
                status.find(kAlarmTexts[static_cast<std::size_t>(k)]) != std::string::npos);
}

AlarmRow EventWatch::stateRow(const Alarm& a, const Stamp& at) const {
    AlarmRow r = a.row;
    r.state = alarmStateName(a.condition.state());
    r.repeats = a.condition.repeats();
    r.changed = at.local;
    return r;
}

void EventWatch::observe(int meter, int kind, bool present) {
    Alarm& a = alarm(meter, kind);
    // Every observation counts, an absent one too: it ends a run of present ones.
    const AlarmCondition::Change change = a.condition.observe(present);
    if (change == AlarmCondition::Change::None)
        return;
    const Stamp at = now();
    EventRow e{at.local, at.utc, meter, a.row.kind, "", meterText(meter, kind), "", ""};
    switch (change) {
    case AlarmCondition::Change::Began:
        e.phase = "begin";
        a.row.began = at.local;
        a.row.ackUser.clear();
        a.row.ackTime.clear();
        break;
    case AlarmCondition::Change::Repeated:
        e.phase = "repeat";
        e.detail = "重复" + std::to_string(a.condition.repeats()) + "次";
        break;
    default:
        e.phase = "end";
        e.text += "恢复";
        break;
    }
    a.row.changed = at.local;
    write({e}, {stateRow(a, at)});
}

void EventWatch::lineUp(const std::string& kind, bool up) {
    const bool gateway = kind == "gateway";
    bool& down = lineDown_[gateway ? 1 : 0];
    if (down == !up)
        return;
    down = !up;
    const Stamp at = now();
    const std::string what = gateway ? "网关" : "串口";
    write(
        {{at.local, at.utc, 0, kind, up ? "end" : "begin", what + (up ? "恢复" : "断开"), "", ""}},
        {});
}

void EventWatch::databaseUp(bool up, std::size_t rowsWaited) {
    if (!up) {
        if (databaseDown_)
            return;
        databaseDown_ = true;
        const Stamp at = now();
        write({{at.local, at.utc, 0, "database", "begin", "数据库不可用", "", ""}}, {});
        return;
    }
    if (!databaseDown_)
        return;
    databaseDown_ = false;
    const Stamp at = now();
    write({{at.local, at.utc, 0, "database", "end", "数据库恢复",
            "等待写入" + std::to_string(rowsWaited) + "行", ""}},
          {});
}

void EventWatch::note(int meter, const std::string& kind, const std::string& text,
                      const std::string& detail, const std::string& user,
                      const std::string& phase) {
    const Stamp at = now();
    write({{at.local, at.utc, meter, kind, phase, text, detail, user}}, {});
}

int EventWatch::acknowledge(int meter, const std::string& kind, const std::string& user) {
    std::vector<EventRow> events;
    std::vector<AlarmRow> states;
    const Stamp at = now();
    for (int m = 1; m <= kMeters; ++m)
        for (int k = 0; k < kAlarmKinds; ++k) {
            Alarm& a = alarm(m, k);
            if ((meter != 0 && (m != meter || a.row.kind != kind)) || !a.condition.acknowledge())
                continue;
            a.row.ackUser = user;
            a.row.ackTime = at.local;
            events.push_back(
                {at.local, at.utc, m, a.row.kind, "ack", meterText(m, k) + "已确认", "", user});
            states.push_back(stateRow(a, at));
        }
    const int changed = static_cast<int>(events.size());
    if (changed)
        write(std::move(events), std::move(states));
    return changed;
}

void EventWatch::restore(const std::vector<AlarmRow>& rows) {
    for (const AlarmRow& r : rows) {
        if (!ReadingsBoard::isMeter(r.meter))
            continue;
        for (int k = 0; k < kAlarmKinds; ++k) {
            if (r.kind != kAlarmKindNames[static_cast<std::size_t>(k)])
                continue;
            const auto state = alarmStateNamed(r.state.c_str());
            if (!state)
                continue;
            Alarm& a = alarm(r.meter, k);
            a.row = r;
            a.condition.restore(*state, r.repeats);
        }
    }
}

std::vector<AlarmRow> EventWatch::alarms() const {
    std::vector<AlarmRow> out;
    for (const Alarm& a : alarms_)
        if (a.condition.state() != AlarmState::Normal)
            out.push_back(stateRow(a, {a.row.changed, {}}));
    return out;
}

MeterAlarm EventWatch::meterAlarm(int meter) const {
    MeterAlarm shown = MeterAlarm::None;
    for (int k = 0; k < kAlarmKinds; ++k) {
        const AlarmState s = alarm(meter, k).condition.state();
        if (s == AlarmState::ActiveUnacknowledged || s == AlarmState::ReturnedUnacknowledged)
            return MeterAlarm::Unacknowledged;
        if (s == AlarmState::ActiveAcknowledged)
            shown = MeterAlarm::Acknowledged;
    }
    return shown;
}

} // namespace mirv
