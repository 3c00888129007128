#include "meter_plan.h"

#include "readings_board.h"

#include <algorithm>

namespace mirv {

PlannedMeter meterAtRow(int row) {
    PlannedMeter meter;
    meter.row = row;
    meter.address = row;
    return meter;
}

MeterPlan rowNumberPlan(int meterCount) {
    MeterPlan plan;
    for (int row = 1; row <= std::min(meterCount, kMeters); ++row)
        plan.meters.push_back(meterAtRow(row));
    return plan;
}

bool isRowNumberPlan(const MeterPlan& plan) {
    return plan.refusals.empty() && std::ranges::all_of(plan.meters, [](const PlannedMeter& m) {
               return m.address == m.row && m.profile == "default" && m.polled;
           });
}

} // namespace mirv
