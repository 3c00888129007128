#include "meter_model.h"

#include <cmath>

namespace mirv::sim {

namespace {

// Splits a total into its integer register and its fractional float.
void split(double total, std::uint32_t& whole, float& fraction) {
    const double w = std::floor(total);
    whole = static_cast<std::uint32_t>(std::fmod(w, 4294967296.0));
    fraction = static_cast<float>(total - w);
}

void splitEnergy(double total, std::uint32_t& high, std::uint32_t& low, float& fraction) {
    const double w = std::floor(total);
    high = static_cast<std::uint32_t>(std::floor(w / 1e9));
    low = static_cast<std::uint32_t>(w - high * 1e9);
    fraction = static_cast<float>(total - w);
}

} // namespace

MeterModel::MeterModel(int address)
    : address_(address), forward_(1000.0 * address + 0.25), reverse_(3.5 * address),
      heatKwh_(20000.0 * address), coldKwh_(500.0 * address) {}

RegisterMap MeterModel::registersAt(double seconds) {
    const double a = address_;
    const double flow = 10 + a + 2 * std::sin(seconds / 30 + a);
    const double inlet = 55 + a * 0.5 + std::sin(seconds / 60);
    const double outlet = inlet - 8 - std::cos(seconds / 45);
    // Heat power in kW from flow (m3/h) and the temperature difference.
    const double heat = flow * (inlet - outlet) * 1.163;
    const double dtHours = (seconds - lastSeconds_) / 3600;
    lastSeconds_ = seconds;
    forward_ += flow * dtHours;
    heatKwh_ += heat * dtHours;
    coldKwh_ += 0.01 * a * dtHours;

    RegisterMap m;
    m.flowRate = static_cast<float>(flow);
    m.flowSpeed = static_cast<float>(flow / 28.3);
    m.inletTemp = static_cast<float>(inlet);
    m.outletTemp = static_cast<float>(outlet);
    m.heatPower = static_cast<float>(heat);
    m.coldPower = 0;
    split(forward_, m.forwardInt, m.forwardFrac);
    split(reverse_, m.reverseInt, m.reverseFrac);
    splitEnergy(heatKwh_, m.heatTotalHigh, m.heatTotalLow, m.heatTotalFrac);
    splitEnergy(coldKwh_, m.coldTotalHigh, m.coldTotalLow, m.coldTotalFrac);
    m.exciteAlarm = (alarms & ExciteAlarmBit) ? 1 : 0;
    m.electrodeAlarm = (alarms & ElectrodeAlarmBit) ? 1 : 0;
    m.emptyPipeAlarm = (alarms & EmptyPipeAlarmBit) ? 1 : 0;
    m.upperAlarm = (alarms & UpperAlarmBit) ? 1 : 0;
    m.lowerAlarm = (alarms & LowerAlarmBit) ? 1 : 0;
    return m;
}

} // namespace mirv::sim
