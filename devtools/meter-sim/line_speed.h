#pragma once

namespace mirv::sim {

// The line speeds the station offers.
bool isStationBaud(int baud);

// Raw 8N1 at `baud`. The rate is set as a number, not from the fixed speed table, so 14400
// works as it does for the station's port.
bool setRawLine(int fd, int baud);

} // namespace mirv::sim
