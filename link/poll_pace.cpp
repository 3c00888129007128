#include "poll_pace.h"

#include "line_settings.h"
#include "read_request.h"

#include <algorithm>
#include <chrono>

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

std::int64_t PollPace::steadyMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void PollPace::start(int intervalMs) {
    intervalMs_ = intervalMs;
    dueUs_ = clockUs() + std::int64_t{intervalMs} * 1000;
}

int PollPace::tick() {
    const std::int64_t intervalUs = std::int64_t{intervalMs_} * 1000;
    const std::int64_t nowUs = clockUs();
    if (nowUs - dueUs_ > intervalUs)
        dueUs_ = nowUs;
    dueUs_ += intervalUs;
    return untilDueMs();
}

int PollPace::untilDueMs() const {
    // Rounded up: a timer that fires at its time finds the tick due.
    const std::int64_t leftUs = std::max<std::int64_t>(dueUs_ - clockUs(), 0);
    return static_cast<int>((leftUs + 999) / 1000);
}

} // namespace mirv
