#pragma once

#include <string_view>

namespace mirv {

// The time one poll needs on the line: the 8-byte request and the 187-byte answer at 10 bits a
// character, plus the meter's turnaround. A poll timer faster than that flushes every answer
// before it has arrived.
constexpr int kMeterTurnaroundMs = 40;
int shortestPollIntervalMs(int baud);

// The poll interval to run: the stored one, but never faster than the line allows at the
// baud rate of `lineSettings` ("9600,n,8,1").
int pollIntervalFor(int storedMs, std::string_view lineSettings);

} // namespace mirv
