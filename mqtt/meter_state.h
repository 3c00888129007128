#pragma once

#include "readings_board.h"

#include <QByteArray>
#include <array>
#include <string_view>

namespace mirv {

// One of a meter's ten numeric readings as it goes out: its key in the state's JSON, its board
// cell and how a dashboard files it.
struct Quantity {
    std::string_view key;
    Cell cell;
    std::string_view name;
    std::string_view deviceClass;
    std::string_view unit;
    std::string_view stateClass;
};

// "m³/h", "°C" and the like are UTF-8.
extern const std::array<Quantity, 10> kQuantities;

// The status cell's alarms as flags, in the order of kAlarmTexts, with their keys in the JSON.
using AlarmFlags = std::array<bool, 5>;
extern const std::array<std::string_view, 5> kAlarmKeys;
extern const std::array<std::string_view, 5> kAlarmNames;

AlarmFlags alarmFlags(const BoardRow& row);

// The state a meter's row publishes: the readings as JSON numbers (null for an empty cell) and
// the alarms as booleans.
QByteArray stateJson(const BoardRow& row);

} // namespace mirv
