#include "history_columns.h"

namespace mirv {

const std::array<HistoryColumn, HistoryRows::kColumns> kHistoryColumns = {{
    {"ID", 800},
    {"仪表编号", 1000},
    {"瞬时流量", 1200},
    {"正向累计", 1400},
    {"反向累计", 1300},
    {"入口温度", 1000},
    {"出口温度", 1000},
    {"瞬时热量", 1000},
    {"瞬时冷量", 1000},
    {"累积热量", 1300},
    {"累积冷量", 1300},
    {"报警状态", 2000},
    {"日期时间", 2000},
}};

} // namespace mirv
