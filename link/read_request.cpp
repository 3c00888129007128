#include "read_request.h"

#include "crc16.h"

namespace mirv {

ReadRequest makeReadRequest(std::uint8_t address) {
    const std::array<std::uint8_t, 6> ReqBytes{
        address, 0x03, kFirstRegister >> 8, kFirstRegister & 0xFF, 0x00, kRegisterCount};
    const auto CrcBytes = CRC16(ReqBytes);
    ReadRequest SendBytes{};
    for (std::size_t i = 0; i < ReqBytes.size(); ++i)
        SendBytes[i] = ReqBytes[i];
    SendBytes[6] = CrcBytes[1];
    SendBytes[7] = CrcBytes[0];
    return SendBytes;
}

} // namespace mirv
