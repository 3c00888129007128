#include "crc16.h"

namespace mirv {

namespace {

// The CRC of every byte value, shifted through the reflected polynomial 0xA001.
constexpr std::array<std::uint16_t, 256> kTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        std::uint16_t crc = static_cast<std::uint16_t>(b);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1u ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
        table[b] = crc;
    }
    return table;
}();

} // namespace

std::array<std::uint8_t, 2> crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ b) & 0xFF]);
    return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFF)};
}

} // namespace mirv
