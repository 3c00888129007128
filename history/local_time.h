#pragma once

#include <string>

namespace mirv {

// The local date and time now as 'YYYY-MM-DD HH:MM:SS', the form CreateTime is stored in.
std::string localTimeNow();
// The same instant in UTC as 'YYYY-MM-DDTHH:MM:SSZ', beside a local time where the clock may
// have been set back or the zone changed.
std::string utcTimeNow();

} // namespace mirv
