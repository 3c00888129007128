#include "line_readout.h"

namespace mirv {

void copyFreshFrames(const FrameRing& ring, LineReadout& into) {
    into.framesSeen = forEachFreshFrame(ring, into.framesSeen,
                                        [&](const MonitorFrame& f) { into.frames.push() = f; });
}

void readCounts(const LineStats& stats, LineCounts& into) {
    into.line = stats.line();
    for (int a = 0; a < LineStats::kAddresses; ++a)
        into.meters[static_cast<std::size_t>(a)] = stats.meter(a);
    into.setIntervalMs = stats.setIntervalMs;
}

void readLine(const LineStats& stats, LineReadout& into) {
    readCounts(stats, into);
    copyFreshFrames(stats.frames(), into);
}

} // namespace mirv
