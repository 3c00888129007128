#pragma once

#include "energy_use.h"
#include "meter_names.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace mirv {

constexpr int kEnergyColumns = 11;
// The column of the meter's name: the last, so that the columns before it stay where they were.
constexpr int kEnergyNameColumn = 10;

// The energy table's column captions, left to right.
constexpr std::array<std::string_view, kEnergyColumns> kEnergyCaptions = {
    "表号",         "开始时间",     "结束时间",       "记录数",   "热量用量(kWh)", "冷量用量(kWh)",
    "正向用量(m³)", "反向用量(m³)", "最长间隔(分钟)", "回退次数", "名称"};

using EnergyRowTexts = std::array<std::string, kEnergyColumns>;

// The table's cells as shown: a row per meter, then the "合计" row, which sums the record
// counts and the four uses and leaves the other cells empty. Uses show two decimals (the exact
// sum rounded half away from zero), the longest gap minutes with one decimal; a meter's name is
// the one `names` gives its number.
std::vector<EnergyRowTexts> energyTableTexts(const std::vector<MeterEnergy>& meters,
                                             const MeterNames& names);

} // namespace mirv
