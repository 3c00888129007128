#include "crc16.h"

namespace mirv {

std::array<std::uint8_t, 2> crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = crc & 1u;
            crc >>= 1;
            if (lsb)
                crc ^= 0xA001;
        }
    }
    return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
}

} // namespace mirv
