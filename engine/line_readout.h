#pragma once

#include "line_stats.h"
#include "meter_link.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mirv {

// The line's counters as a view shows them: a copy as they stood when it was read.
struct LineCounts {
    LineCounters line;
    // Meter by meter, each meter's reads together; and read by read.
    std::array<MeterCounters, LineStats::kAddresses> meters{};
    std::map<ReadKey, MeterCounters> reads;
    // The reads the link polls, in the order it polls them, with the meters' names.
    std::vector<PolledRead> polled;
    // The poll interval as set, and the meter count as the settings give it.
    int setIntervalMs = 0;
    std::string meterCount;
    // Opens of the port that worked and that failed.
    std::uint64_t opens = 0;
    std::uint64_t openFailures = 0;
    // The engine's wall clock when it was read, microseconds.
    std::int64_t nowWallUs = 0;
};

// What a view shows of the line: the counters, and the monitor's frames gathered into a ring of
// the view's own. Each read adds the frames that came since the one before, so a view far from
// the engine never copies the whole ring again.
struct LineReadout : LineCounts {
    // The count of frames pushed into the ring read from, up to the last one this ring holds.
    std::uint64_t framesSeen = 0;
    FrameRing frames;
};

// Calls `take` with each frame `ring` still holds that was pushed after the first `seen`,
// oldest first; returns the count pushed, the next call's `seen`.
template <class Take>
std::uint64_t forEachFreshFrame(const FrameRing& ring, std::uint64_t seen, Take&& take) {
    const std::uint64_t pushed = ring.pushed();
    const std::uint64_t fresh =
        std::min<std::uint64_t>(pushed - std::min(seen, pushed), ring.size());
    for (std::size_t i = ring.size() - fresh; i < ring.size(); ++i)
        take(ring.at(i));
    return pushed;
}

// Adds the frames of `ring` that `into` has not seen yet.
void copyFreshFrames(const FrameRing& ring, LineReadout& into);

// Sets each meter's counters from its reads'.
void countMeters(LineCounts& counts);

// Copies the counters `stats` holds into `into`.
void readCounts(const LineStats& stats, LineCounts& into);

// Copies what `stats` holds into `into`, the frames it has not seen yet included.
void readLine(const LineStats& stats, LineReadout& into);

} // namespace mirv
