#pragma once

#include "history_rows.h"

#include <array>

namespace mirv {

// One column of Historydata as the operator sees it: its caption and its width in the grid.
struct HistoryColumn {
    const char* caption;
    int widthTwips;
};

// The 13 columns in table order, ID .. CreateTime: the query grid and every export show these.
extern const std::array<HistoryColumn, HistoryRows::kColumns> kHistoryColumns;

// MeterID's place among them.
constexpr int kMeterIdColumn = 1;

} // namespace mirv
