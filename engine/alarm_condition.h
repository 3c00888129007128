#pragma once

#include <optional>

namespace mirv {

// Alarm states as alarm management has them: an alarm becomes active and unacknowledged; the
// operator acknowledges it, before or after it returns; it is normal again once it has both
// returned and been acknowledged.
enum class AlarmState { Normal, ActiveUnacknowledged, ActiveAcknowledged, ReturnedUnacknowledged };

const char* alarmStateName(AlarmState state);
std::optional<AlarmState> alarmStateNamed(const char* name);

// How long a condition must hold, and how long it must be gone, in observations (polls of its
// meter), before the alarm begins or returns.
struct AlarmDelays {
    int onCount = 1;
    int offCount = 3;
};

// One alarm of one meter, fed one observation per poll. A condition that comes and goes
// faster than its delays is one alarm; one that comes back before anyone acknowledged it
// counts a repeat rather than making a new alarm.
class AlarmCondition {
  public:
    enum class Change { None, Began, Repeated, Returned };

    explicit AlarmCondition(AlarmDelays delays = {}) : delays_(delays) {}

    Change observe(bool present);
    // False when there was nothing to acknowledge.
    bool acknowledge();

    AlarmState state() const { return state_; }
    bool active() const {
        return state_ == AlarmState::ActiveUnacknowledged ||
               state_ == AlarmState::ActiveAcknowledged;
    }
    int repeats() const { return repeats_; }
    // A state stored by an earlier run: the condition is taken as present until it is seen
    // otherwise, so that an acknowledged alarm is not raised again after a restart.
    void restore(AlarmState state, int repeats);

  private:
    AlarmDelays delays_;
    AlarmState state_ = AlarmState::Normal;
    int repeats_ = 0;
    int presentRun_ = 0;
    int absentRun_ = 0;
};

} // namespace mirv
