#pragma once

#include "event_journal.h"

#include <QByteArray>

namespace mirv {

// A journal event as it goes out on the events topics: one JSON object with local_time,
// utc_time, meter (0: the station itself), kind, phase, text, detail and user.
QByteArray eventJson(const EventRow& event);

} // namespace mirv
