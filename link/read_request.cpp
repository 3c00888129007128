#include "read_request.h"

#include "crc16.h"

namespace mirv {

ReadRequest makeReadRequest(std::uint8_t address) {
    const std::array<std::uint8_t, 6> body{
        address, 0x03, kFirstRegister >> 8, kFirstRegister & 0xFF, 0x00, kRegisterCount};
    const auto crc = crc16(body);
    ReadRequest frame{};
    for (std::size_t i = 0; i < body.size(); ++i)
        frame[i] = body[i];
    frame[6] = crc[1];
    frame[7] = crc[0];
    return frame;
}

} // namespace mirv
