#pragma once

#include <optional>
#include <string>

namespace mirv {

// Whether board row `meter` is polled under the meter count as the settings give it: rows 1 up
// to its leading number, and row 1 whatever the count says.
bool polledRow(const std::string& meterCount, int meter);

// The poll interval as a whole number of milliseconds, or nothing when the text is not one.
std::optional<long long> wholeMilliseconds(const std::string& text);

// What Save refuses before it stores anything: empty, or the text the operator is shown.
std::string refusedPollInterval(const std::string& text);

} // namespace mirv
