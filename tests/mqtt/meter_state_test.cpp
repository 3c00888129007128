// A board row as the state a meter publishes: numbers, nulls and alarm flags.
#include "meter_state.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace mirv {
namespace {

TEST(MeterState, ReadingsAreNumbersEmptyCellsNullAndAlarmsFlags) {
    BoardRow row;
    row[FlowRateCell] = "12.3456";
    row[FlowSpeedCell] = "-0.5000";
    row[InletTempCell] = ""; // out of the shown range
    row[OutletTempCell] = "45.10";
    row[ForwardTotalCell] = "123456789.12";
    row[ReverseTotalCell] = "0.00";
    row[HeatPowerCell] = "7.2500";
    row[StatusCell] = "通讯正常,励磁报警,下限报警";
    row[ColdPowerCell] = "0.0000";
    row[HeatTotalCell] = "98765.43";
    row[ColdTotalCell] = "1.00";
    const QJsonObject s = QJsonDocument::fromJson(stateJson(row)).object();
    const struct {
        const char* key;
        QJsonValue value;
    } expected[] = {
        {"flow", 12.3456},
        {"velocity", -0.5},
        {"inlet_temperature", QJsonValue::Null},
        {"outlet_temperature", 45.1},
        {"forward_total", 123456789.12},
        {"reverse_total", 0.0},
        {"heat_power", 7.25},
        {"cold_power", 0.0},
        {"heat_total", 98765.43},
        {"cold_total", 1.0},
        {"excitation_alarm", true},
        {"electrode_alarm", false},
        {"empty_pipe_alarm", false},
        {"upper_limit_alarm", false},
        {"lower_limit_alarm", true},
    };
    EXPECT_EQ(s.size(), static_cast<qsizetype>(std::size(expected)));
    for (const auto& e : expected)
        EXPECT_EQ(s.value(e.key), e.value) << e.key;
}

} // namespace
} // namespace mirv
