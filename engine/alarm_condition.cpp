#include "alarm_condition.h"

#include <cstring>

namespace mirv {

namespace {

const char* const kStateNames[] = {"normal", "active-unacknowledged", "active-acknowledged",
                                   "returned-unacknowledged"};

} // namespace

const char* alarmStateName(AlarmState state) {
    return kStateNames[static_cast<int>(state)];
}

std::optional<AlarmState> alarmStateNamed(const char* name) {
    for (int i = 0; i < 4; ++i)
        if (std::strcmp(kStateNames[i], name) == 0)
            return static_cast<AlarmState>(i);
    return std::nullopt;
}

AlarmCondition::Change AlarmCondition::observe(bool present) {
    if (present) {
        ++presentRun_;
        absentRun_ = 0;
    } else {
        ++absentRun_;
        presentRun_ = 0;
    }
    if (!active() && present && presentRun_ >= delays_.onCount) {
        if (state_ == AlarmState::ReturnedUnacknowledged) {
            state_ = AlarmState::ActiveUnacknowledged;
            ++repeats_;
            return Change::Repeated;
        }
        state_ = AlarmState::ActiveUnacknowledged;
        repeats_ = 0;
        return Change::Began;
    }
    if (active() && !present && absentRun_ >= delays_.offCount) {
        state_ = state_ == AlarmState::ActiveAcknowledged ? AlarmState::Normal
                                                          : AlarmState::ReturnedUnacknowledged;
        return Change::Returned;
    }
    return Change::None;
}

bool AlarmCondition::acknowledge() {
    switch (state_) {
    case AlarmState::ActiveUnacknowledged:
        state_ = AlarmState::ActiveAcknowledged;
        return true;
    case AlarmState::ReturnedUnacknowledged:
        state_ = AlarmState::Normal;
        return true;
    default:
        return false;
    }
}

void AlarmCondition::restore(AlarmState state, int repeats) {
    state_ = state;
    repeats_ = repeats;
    presentRun_ = active() ? delays_.onCount : 0;
    absentRun_ = 0;
}

} // namespace mirv
