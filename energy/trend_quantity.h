#pragma once

#include <array>
#include <span>
#include <string_view>

namespace mirv {

// A line of a trend: its caption and the Historydata column it reads.
struct TrendLineSource {
    std::string_view caption;
    std::string_view column;
};

// A quantity the trend chart can show: one line, or two drawn together (the temperatures).
// A quantity with no lines is one the history does not store.
struct TrendQuantity {
    std::string_view caption;
    std::string_view unit; // empty where the meters' unit is not fixed here
    int decimals;          // as the board shows it
    int lineCount;
    std::array<TrendLineSource, 2> lines;
};

// The board's numeric columns in the board's order.
std::span<const TrendQuantity> trendQuantities();

} // namespace mirv
