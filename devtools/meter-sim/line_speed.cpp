#include "line_speed.h"

#include <asm/termbits.h>
#include <initializer_list>
#include <sys/ioctl.h>

namespace mirv::sim {

bool isStationBaud(int baud) {
    for (int b : {600, 1200, 2400, 4800, 9600, 14400, 19200})
        if (baud == b)
            return true;
    return false;
}

bool setRawLine(int fd, int baud) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace mirv::sim
