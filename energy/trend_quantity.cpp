#include "trend_quantity.h"

namespace mirv {

namespace {

// 流速 is shown on the board but never logged, so it has no line to draw.
constexpr TrendQuantity kQuantities[] = {
    {"瞬时流量", "", 4, 1, {{{"瞬时流量", "MinuteAverage"}}}},
    {"流速", "", 4, 0, {}},
    {"入口温度/出口温度",
     "℃",
     2,
     2,
     {{{"入口温度", "TXTctemperature1"}, {"出口温度", "TXTctemperature2"}}}},
    {"瞬时热量", "", 4, 1, {{{"瞬时热量", "TXTreliang"}}}},
    {"瞬时冷量", "", 4, 1, {{{"瞬时冷量", "TXTlengliang"}}}},
    {"正向累积", "m³", 2, 1, {{{"正向累积", "Foward"}}}},
    {"反向累积", "m³", 2, 1, {{{"反向累积", "Reverse"}}}},
    {"累积热量", "kWh", 2, 1, {{{"累积热量", "TXTleijire_z"}}}},
    {"累积冷量", "kWh", 2, 1, {{{"累积冷量", "TXTleijileng_z"}}}},
};

} // namespace

std::span<const TrendQuantity> trendQuantities() {
    return kQuantities;
}

} // namespace mirv
