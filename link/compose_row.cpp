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
    const std::array flags{m.exciteAlarm, m.electrodeAlarm, m.emptyPipeAlarm, m.upperAlarm,
                           m.lowerAlarm};
    for (std::size_t i = 0; i < flags.size(); ++i)
        if (flags[i] == 1)
            (status += ",") += kAlarmTexts[i];
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
