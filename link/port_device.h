#pragma once

#include <string>

namespace mirv {

// The device behind port number N: the file ports/comN in the program's folder when it exists
// (usually a link to /dev/serial/by-id/..., /dev/ttyUSB0 or a pseudo-terminal), else
// /dev/ttyS<N-1>.
std::string portDevice(const std::string& programDir, int portNo);

} // namespace mirv
