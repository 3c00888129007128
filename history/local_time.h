#pragma once

#include <string>

namespace mirv {

// The local date and time now as 'YYYY-MM-DD HH:MM:SS', the form CreateTime is stored in.
std::string localTimeNow();

} // namespace mirv
