#include "energy_table.h"

namespace mirv {

namespace {

// Minutes with one decimal from whole seconds (never negative), rounded half up.
std::string minutesText(std::int64_t seconds) {
    const std::int64_t tenths = (seconds + 3) / 6;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

EnergyRowTexts usesRow(std::string meter, std::string first, std::string last, std::int64_t records,
                       const std::array<Fixed, kEnergyTotals>& uses) {
    EnergyRowTexts row;
    row[0] = std::move(meter);
    row[1] = std::move(first);
    row[2] = std::move(last);
    row[3] = std::to_string(records);
    for (int t = 0; t < kEnergyTotals; ++t)
        row[4 + t] = formatFixed(uses[t], 2);
    return row;
}

} // namespace

std::vector<EnergyRowTexts> energyTableTexts(const std::vector<MeterEnergy>& meters,
                                             const MeterNames& names) {
    std::vector<EnergyRowTexts> rows;
    std::int64_t records = 0;
    std::array<Fixed, kEnergyTotals> uses{};
    for (const MeterEnergy& m : meters) {
        EnergyRowTexts row = usesRow(m.meterId, m.firstTime, m.lastTime, m.records, m.uses);
        row[8] = minutesText(m.longestGapSeconds);
        row[9] = std::to_string(m.stepBacks);
        row[kEnergyNameColumn] = names.nameOf(m.meterId);
        rows.push_back(std::move(row));
        records += m.records;
        for (int t = 0; t < kEnergyTotals; ++t)
            uses[t] += m.uses[t];
    }
    rows.push_back(usesRow("合计", {}, {}, records, uses));
    return rows;
}

} // namespace mirv
