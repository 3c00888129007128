#pragma once

#include <array>
#include <cstdint>

namespace mirv {

// The one request the station sends: Read Holding Registers 0x0030..0x008A (91 registers).
constexpr std::uint16_t kFirstRegister = 0x0030;
constexpr std::uint16_t kRegisterCount = 91;
constexpr std::size_t kAnswerBytes = 3 + 2 * kRegisterCount + 2; // 187
constexpr std::size_t kAnswerHexChars = 2 * kAnswerBytes;        // 374

using ReadRequest = std::array<std::uint8_t, 8>;

ReadRequest makeReadRequest(std::uint8_t address);
// Function 03 or 04 of `count` registers from `first`.
ReadRequest makeReadRequest(std::uint8_t address, std::uint8_t function, std::uint16_t first,
                            std::uint16_t count);

} // namespace mirv
