#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirv {

// The four criteria fields of the query tab, as the operator left them.
struct QueryCriteria {
    std::string meter; // 仪表编号: a meter number, or empty / "全部" for all meters
    std::string from;  // 日期
    std::string to;    // 至
    std::string step;  // 时间间隔, minutes
};

// What a query selects. An empty bound (no such date) or a step of 0 selects nothing.
struct HistorySelection {
    bool allMeters = true;
    std::string meterText;
    std::optional<std::string> from;
    std::optional<std::string> to;
    std::int16_t step = 0;

    bool selectsNothing() const { return step == 0 || !from || !to; }
};

// The step: the trimmed text as a number rounded half to even, 0 when it is not a number or
// lies outside -32768..32767.
std::int16_t stepFrom(const std::string& text);

HistorySelection selectionFrom(const QueryCriteria& criteria);

} // namespace mirv
