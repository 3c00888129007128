#include "query_criteria.h"

#include "date_time_text.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>

namespace mirv {

namespace {

std::string trimSpaces(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

std::int16_t stepFrom(const std::string& text) {
    const std::string t = trimSpaces(text);
    if (t.empty() || t.find_first_not_of("+-.0123456789eE") != std::string::npos)
        return 0;
    char* end = nullptr;
    const double value = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !std::isfinite(value))
        return 0;
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded < -32768 || rounded > 32767)
        return 0;
    return static_cast<std::int16_t>(rounded);
}

HistorySelection selectionFrom(const QueryCriteria& c) {
    HistorySelection s;
    s.step = stepFrom(c.step);
    // The all-meters test looks at the field as typed; " 全部" is a meter text.
    s.allMeters = c.meter.empty() || c.meter == "全部";
    s.meterText = trimSpaces(c.meter);
    s.from = parseDateTimeText(trimSpaces(c.from));
    s.to = parseDateTimeText(trimSpaces(c.to));
    return s;
}

} // namespace mirv
