#pragma once

#include "read_answer.h"

#include <cstdint>

namespace mirv::sim {

// Alarm flags a simulated meter reports, as bits.
enum Alarm : unsigned {
    ExciteAlarmBit = 1,
    ElectrodeAlarmBit = 2,
    EmptyPipeAlarmBit = 4,
    UpperAlarmBit = 8,
    LowerAlarmBit = 16,
};

// A plausible meter: flow and temperatures that wander, totals that grow with the flow.
class MeterModel {
  public:
    explicit MeterModel(int address);

    // Advances the totals to `seconds` since the simulator started and returns the registers.
    RegisterMap registersAt(double seconds);

    unsigned alarms = 0;

  private:
    int address_;
    double lastSeconds_ = 0;
    double forward_ = 0;
    double reverse_ = 0;
    double heatKwh_ = 0;
    double coldKwh_ = 0;
};

} // namespace mirv::sim
