#include "line_readout.h"

namespace mirv {

void copyFreshFrames(const FrameRing& ring, LineReadout& into) {
    into.framesSeen = forEachFreshFrame(ring, into.framesSeen,
                                        [&](const MonitorFrame& f) { into.frames.push() = f; });
}

void countMeters(LineCounts& counts) {
    counts.meters.fill({});
    for (const auto& [key, read] : counts.reads)
        addRead(counts.meters[key.address], read);
}

void readCounts(const LineStats& stats, LineCounts& into) {
    into.line = stats.line();
    into.reads = stats.reads();
    countMeters(into);
    into.setIntervalMs = stats.setIntervalMs;
}

void readLine(const LineStats& stats, LineReadout& into) {
    readCounts(stats, into);
    copyFreshFrames(stats.frames(), into);
}

} // namespace mirv
