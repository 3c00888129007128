#include "line_readout.h"

#include <algorithm>

namespace mirv {

void readLine(const LineStats& stats, LineReadout& into) {
    into.line = stats.line();
    for (int a = 0; a < LineStats::kAddresses; ++a)
        into.meters[static_cast<std::size_t>(a)] = stats.meter(a);
    into.setIntervalMs = stats.setIntervalMs;
    const FrameRing& ring = stats.frames();
    const std::uint64_t fresh = std::min<std::uint64_t>(
        ring.pushed() - std::min(into.framesSeen, ring.pushed()), ring.size());
    for (std::size_t i = ring.size() - fresh; i < ring.size(); ++i)
        into.frames.push() = ring.at(i);
    into.framesSeen = ring.pushed();
}

} // namespace mirv
