#include "meter_state.h"

#include "compose_row.h"
#include "leading_number.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace mirv {

const std::array<Quantity, 10> kQuantities{{
    {"flow", FlowRateCell, "Flow", "volume_flow_rate", "m³/h", "measurement"},
    {"velocity", FlowSpeedCell, "Velocity", "speed", "m/s", "measurement"},
    {"inlet_temperature", InletTempCell, "Inlet temperature", "temperature", "°C", "measurement"},
    {"outlet_temperature", OutletTempCell, "Outlet temperature", "temperature", "°C",
     "measurement"},
    {"forward_total", ForwardTotalCell, "Forward total", "water", "m³", "total_increasing"},
    {"reverse_total", ReverseTotalCell, "Reverse total", "water", "m³", "total_increasing"},
    {"heat_power", HeatPowerCell, "Heat power", "power", "kW", "measurement"},
    {"cold_power", ColdPowerCell, "Cold power", "power", "kW", "measurement"},
    {"heat_total", HeatTotalCell, "Heat total", "energy", "kWh", "total_increasing"},
    {"cold_total", ColdTotalCell, "Cold total", "energy", "kWh", "total_increasing"},
}};

const std::array<std::string_view, 5> kAlarmKeys{"excitation_alarm", "electrode_alarm",
                                                 "empty_pipe_alarm", "upper_limit_alarm",
                                                 "lower_limit_alarm"};
const std::array<std::string_view, 5> kAlarmNames{"Excitation alarm", "Electrode alarm",
                                                  "Empty pipe alarm", "Upper limit alarm",
                                                  "Lower limit alarm"};

AlarmFlags alarmFlags(const BoardRow& row) {
    // The status cell lists its alarms after the communication text, each after a comma.
    const std::string_view status = row[StatusCell];
    AlarmFlags flags{};
    std::size_t start = status.find(',');
    while (start != std::string_view::npos) {
        const std::size_t end = status.find(',', start + 1);
        const std::string_view item = status.substr(start + 1, end - start - 1);
        for (std::size_t i = 0; i < kAlarmTexts.size(); ++i)
            if (item == kAlarmTexts[i])
                flags[i] = true;
        start = end;
    }
    return flags;
}

namespace {

QString key(std::string_view k) {
    return QString::fromUtf8(k.data(), static_cast<qsizetype>(k.size()));
}

} // namespace

QByteArray stateJson(const BoardRow& row) {
    QJsonObject state;
    for (const Quantity& q : kQuantities) {
        const std::string& text = row[q.cell];
        state.insert(key(q.key),
                     text.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(leadingNumber(text)));
    }
    const AlarmFlags flags = alarmFlags(row);
    for (std::size_t i = 0; i < flags.size(); ++i)
        state.insert(key(kAlarmKeys[i]), flags[i]);
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

} // namespace mirv
