#include "compose_row.h"

namespace mirv {

namespace {

constexpr Fixed kBillion = 1000000000;

std::optional<Fixed> total(Fixed whole, float fraction) {
    return pairTotal(whole, fraction);
}

std::string shown(const std::optional<Fixed>& value) {
    return value ? formatFixed(*value, 2) : std::string();
}

std::string temperature(float t) {
    return t >= 0 && t < 300 ? formatDecimal(t, 2) : std::string();
}

} // namespace

std::string composeStatusText(const RegisterMap& m) {
    std::string status = "通讯正常";
    if (m.exciteAlarm == 1)
        status += ",励磁报警";
    if (m.electrodeAlarm == 1)
        status += ",电极报警";
    if (m.emptyPipeAlarm == 1)
        status += ",空管报警";
    if (m.upperAlarm == 1)
        status += ",上限报警";
    if (m.lowerAlarm == 1)
        status += ",下限报警";
    return status;
}

std::optional<Fixed> forwardTotal(const RegisterMap& m) {
    return total(m.forwardInt, m.forwardFrac);
}
std::optional<Fixed> reverseTotal(const RegisterMap& m) {
    return total(m.reverseInt, m.reverseFrac);
}
std::optional<Fixed> heatTotal(const RegisterMap& m) {
    return total(Fixed{m.heatTotalHigh} * kBillion + m.heatTotalLow, m.heatTotalFrac);
}
std::optional<Fixed> coldTotal(const RegisterMap& m) {
    return total(Fixed{m.coldTotalHigh} * kBillion + m.coldTotalLow, m.coldTotalFrac);
}

BoardRow composeRow(const RegisterMap& m) {
    BoardRow row;
    row[FlowRateCell] = formatDecimal(m.flowRate, 4);
    row[FlowSpeedCell] = formatDecimal(m.flowSpeed, 4);
    row[ForwardTotalCell] = shown(forwardTotal(m));
    row[ReverseTotalCell] = shown(reverseTotal(m));
    row[StatusCell] = composeStatusText(m);
    row[InletTempCell] = temperature(m.inletTemp);
    row[OutletTempCell] = temperature(m.outletTemp);
    row[HeatPowerCell] = formatDecimal(m.heatPower, 4);
    row[ColdPowerCell] = formatDecimal(m.coldPower, 4);
    row[HeatTotalCell] = shown(heatTotal(m));
    row[ColdTotalCell] = shown(coldTotal(m));
    return row;
}

} // namespace mirv
