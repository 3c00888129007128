#pragma once

#include "energy_use.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace mirv {

constexpr int kEnergyColumns = 10;

// The energy table's column captions, left to right.
constexpr std::array<std::string_view, kEnergyColumns> kEnergyCaptions = {
    "表号",          "开始时间",     "结束时间",     "记录数",         "热量用量(kWh)",
    "冷量用量(kWh)", "正向用量(m³)", "反向用量(m³)", "最长间隔(分钟)", "回退次数"};

using EnergyRowTexts = std::array<std::string, kEnergyColumns>;

// The table's cells as shown: a row per meter, then the "合计" row, which sums the record
// counts and the four uses and leaves the other cells empty. Uses show two decimals (the exact
// sum rounded half away from zero), the longest gap minutes with one decimal.
std::vector<EnergyRowTexts> energyTableTexts(const std::vector<MeterEnergy>& meters);

} // namespace mirv
