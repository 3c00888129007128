#include "board_units.h"

#include <span>
#include <string>

namespace mirv {

namespace {

struct UnitRow {
    std::string_view unit;
    UnitFactor factor;
};

// Per quantity, its units and their factor to the first, the board's.
constexpr UnitRow kFlow[] = {{"m3/h", {1, 1}}, {"m3/min", {60, 1}}, {"m3/s", {3600, 1}},
                             {"l/s", {18, 5}}, {"l/min", {3, 50}},  {"l/h", {1, 1000}}};
constexpr UnitRow kVelocity[] = {{"m/s", {1, 1}}, {"cm/s", {1, 100}}, {"mm/s", {1, 1000}}};
constexpr UnitRow kTemperature[] = {{"C", {1, 1}}};
constexpr UnitRow kVolume[] = {{"m3", {1, 1}}, {"l", {1, 1000}}};
constexpr UnitRow kPower[] = {
    {"kW", {1, 1}}, {"W", {1, 1000}}, {"MW", {1000, 1}}, {"GJ/h", {2500, 9}}, {"MJ/h", {5, 18}}};
constexpr UnitRow kEnergy[] = {{"kWh", {1, 1}},       {"Wh", {1, 1000}}, {"MWh", {1000, 1}},
                               {"GWh", {1000000, 1}}, {"GJ", {2500, 9}}, {"MJ", {5, 18}}};

std::span<const UnitRow> unitsOf(int cell) {
    switch (cell) {
    case FlowRateCell:
        return kFlow;
    case FlowSpeedCell:
        return kVelocity;
    case InletTempCell:
    case OutletTempCell:
        return kTemperature;
    case ForwardTotalCell:
    case ReverseTotalCell:
        return kVolume;
    case HeatPowerCell:
    case ColdPowerCell:
        return kPower;
    case HeatTotalCell:
    case ColdTotalCell:
        return kEnergy;
    default:
        return {};
    }
}

// "m³" and "°C" as the tables spell them.
std::string plain(std::string_view unit) {
    std::string s(unit);
    if (const auto at = s.find("m³"); at != std::string::npos)
        s.replace(at, std::string_view("m³").size(), "m3");
    if (s == "°C")
        s = "C";
    return s;
}

} // namespace

std::string_view boardUnit(int cell) {
    const auto units = unitsOf(cell);
    return units.empty() ? std::string_view() : units.front().unit;
}

std::optional<UnitFactor> unitFactor(int cell, std::string_view unit) {
    const std::string wanted = plain(unit);
    for (const UnitRow& row : unitsOf(cell))
        if (row.unit == wanted)
            return row.factor;
    return std::nullopt;
}

} // namespace mirv
