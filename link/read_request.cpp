#include "read_request.h"

#include "crc16.h"

namespace mirv {

ReadRequest makeReadRequest(std::uint8_t address) {
    return makeReadRequest(address, 0x03, kFirstRegister, kRegisterCount);
}

ReadRequest makeReadRequest(std::uint8_t address, std::uint8_t function, std::uint16_t first,
                            std::uint16_t count) {
    const std::array<std::uint8_t, 6> body{address,
                                           function,
                                           static_cast<std::uint8_t>(first >> 8),
                                           static_cast<std::uint8_t>(first & 0xFF),
                                           static_cast<std::uint8_t>(count >> 8),
                                           static_cast<std::uint8_t>(count & 0xFF)};
    const auto crc = crc16(body);
    ReadRequest frame{};
    for (std::size_t i = 0; i < body.size(); ++i)
        frame[i] = body[i];
    frame[6] = crc[1];
    frame[7] = crc[0];
    return frame;
}

} // namespace mirv
