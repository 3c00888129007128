#pragma once

#include "event_journal.h"

#include <string>
#include <vector>

namespace mirv {

// One line of a notice for `e`: its time, the meter (or the station), its text and detail.
std::string eventLine(const EventRow& e);

// The whole mail of `events` from `from` to `to`, headers and body, lines ending in CRLF. The
// subject and body are UTF-8, the body in base64 so that no server has to pass 8-bit text.
// `dateRfc2822` is the Date header's value.
std::string mailText(const std::string& from, const std::vector<std::string>& to,
                     const std::vector<EventRow>& events, const std::string& dateRfc2822);

} // namespace mirv
