#pragma once

#include <string>
#include <vector>

namespace mirv {

// A board row's meter: the address it answers at, its profile's name, its name for the
// operator, and whether it is polled.
struct PlannedMeter {
    int row = 0;
    int address = 0;
    std::string profile = "default";
    std::string name;
    bool polled = true;
};

// The meters of the polled board rows, and the entries refused (each naming its row and why);
// a refused row is not polled, the others are.
struct MeterPlan {
    std::vector<PlannedMeter> meters;
    std::vector<std::string> refusals;
};

constexpr int kLowestAddress = 1;
constexpr int kHighestMeterAddress = 247;

// A row without an entry: at its own number with the default profile.
PlannedMeter meterAtRow(int row);

// Today's station: rows 1..meterCount (at most the board's rows) at their own numbers with the
// default profile.
MeterPlan rowNumberPlan(int meterCount);

// Whether the plan is today's station: no refusals, and every meter polled at its row's number
// with the default profile. The link then polls as the meter count says (an empty plan).
bool isRowNumberPlan(const MeterPlan& plan);

} // namespace mirv
