#pragma once

#include "line_stats.h"

#include <array>
#include <cstdint>
#include <string>

namespace mirv {

// What a view shows of the line: a copy of the counters as they stood when it was read, and the
// monitor's frames gathered into a ring of the view's own. Each read adds the frames that came
// since the one before, so a view far from the engine never copies the whole ring again.
struct LineReadout {
    LineCounters line;
    std::array<MeterCounters, LineStats::kAddresses> meters{};
    // The poll interval as set, and the meter count as the settings give it.
    int setIntervalMs = 0;
    std::string meterCount;
    // Opens of the port that worked and that failed.
    std::uint64_t opens = 0;
    std::uint64_t openFailures = 0;
    // The engine's wall clock when it was read, microseconds.
    std::int64_t nowWallUs = 0;
    // The engine's own count of frames pushed, up to the last one this ring holds.
    std::uint64_t framesSeen = 0;
    FrameRing frames;
};

// Copies what `stats` holds into `into`, the frames it has not seen yet included.
void readLine(const LineStats& stats, LineReadout& into);

} // namespace mirv
