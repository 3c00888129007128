#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace mirv {

// Modbus CRC-16 (reflected polynomial 0xA001, initial 0xFFFF). Returns {high byte, low byte};
// on the wire the low byte goes first.
std::array<std::uint8_t, 2> crc16(std::span<const std::uint8_t> bytes);

} // namespace mirv
