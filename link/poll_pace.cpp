#include "poll_pace.h"

#include "line_settings.h"
#include "read_request.h"

#include <algorithm>

namespace mirv {

int shortestPollIntervalMs(int baud) {
    constexpr long long bitsPerPoll = (sizeof(ReadRequest) + kAnswerBytes) * 10;
    const long long wireMs = (bitsPerPoll * 1000 + baud - 1) / std::max(baud, 1);
    return static_cast<int>(wireMs) + kMeterTurnaroundMs;
}

int pollIntervalFor(int storedMs, std::string_view lineSettings) {
    const auto settings = parseLineSettings(lineSettings);
    return std::max(storedMs, shortestPollIntervalMs(settings ? settings->baud : 9600));
}

} // namespace mirv
