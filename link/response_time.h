#pragma once

#include <algorithm>
#include <cstdint>

namespace mirv {

// A meter's response time, microseconds: from the request's last byte on the wire to the
// answer's last byte in. The request was written at `sentUs` and takes `wireUs` on the wire
// at the baud set; a line faster than that (a gateway, a simulator) shows by the answer's
// first byte coming sooner, and no meter answers a request it has not had whole, so the
// request's end is the earlier of the two. Never negative while the answer's first byte came
// no later than its last.
constexpr std::int64_t responseUs(std::int64_t sentUs, std::int64_t wireUs,
                                  std::int64_t answerFirstUs, std::int64_t answerLastUs) {
    return answerLastUs - std::min(sentUs + wireUs, answerFirstUs);
}

} // namespace mirv
