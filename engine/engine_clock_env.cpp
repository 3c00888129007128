#include "engine_clock_env.h"

#include <cstdlib>
#include <string>

namespace mirv {

EngineClock engineClockFromEnvironment() {
    EngineClock clock;
    const char* text = std::getenv("MIRV_TEST_MINUTE_MS");
    if (!text || !*text)
        return clock;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end == '\0' && ms >= 50 && ms <= 60000)
        clock.minuteMs = static_cast<int>(ms);
    return clock;
}

} // namespace mirv
