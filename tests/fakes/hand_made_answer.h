#pragma once

#include <cstdint>
#include <vector>

namespace mirv::test {

// A whole answer of meter 7 written out byte by byte from the register table, independent of
// the project's own answer builder. Every mapped register holds its own non-zero value and
// every unmapped byte is 0xA5, so a register read from the wrong place shows. The CRC bytes
// were computed apart from the project's code. `function` replaces byte 1 (its CRC is one of
// the four given).
inline std::vector<std::uint8_t> handMadeAnswer(std::uint8_t function = 0x03) {
    std::vector<std::uint8_t> a(185, 0xA5);
    a[0] = 0x07;
    a[1] = function;
    a[2] = 0xB6;
    auto put = [&](std::size_t offset, std::vector<std::uint8_t> bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            a[offset + i] = bytes[i];
    };
    put(3, {0x41, 0x48, 0x00, 0x00});   // 0x30 flow 12.5
    put(9, {0x00, 0x01, 0xE2, 0x40});   // 0x33 forward integer 123456
    put(13, {0x3F, 0x40, 0x00, 0x00});  // 0x35 forward fraction 0.75
    put(19, {0x00, 0x00, 0x03, 0xE8});  // 0x38 reverse integer 1000
    put(23, {0x3E, 0x80, 0x00, 0x00});  // 0x3A reverse fraction 0.25
    put(29, {0x00, 0x01});              // 0x3D excitation alarm 1
    put(31, {0x02, 0x00});              // 0x3E electrode alarm 512: not an alarm
    put(33, {0x00, 0x03});              // 0x3F empty-pipe alarm 3: not an alarm
    put(35, {0x00, 0x01});              // 0x40 upper-limit alarm 1
    put(37, {0x00, 0x04});              // 0x41 lower-limit alarm 4: not an alarm
    put(39, {0x3F, 0xC0, 0x00, 0x00});  // 0x42 velocity 1.5
    put(67, {0x42, 0x75, 0x00, 0x00});  // 0x50 inlet 61.25
    put(83, {0x42, 0x22, 0x00, 0x00});  // 0x58 outlet 40.5
    put(109, {0xC0, 0x60, 0x00, 0x00}); // 0x65 heat power -3.5
    put(113, {0x40, 0xE0, 0x00, 0x00}); // 0x67 cold power 7.0
    put(119, {0x00, 0x00, 0x00, 0x05}); // 0x6A heat low 5
    put(123, {0x00, 0x00, 0x00, 0x02}); // 0x6C heat high 2 (x 1e9)
    put(127, {0x3F, 0x00, 0x00, 0x00}); // 0x6E heat fraction 0.5
    put(131, {0x00, 0x0F, 0x42, 0x40}); // 0x70 cold low 1000000
    put(135, {0x00, 0x00, 0x00, 0x03}); // 0x72 cold high 3 (x 1e9)
    put(139, {0x3E, 0x00, 0x00, 0x00}); // 0x74 cold fraction 0.125
    switch (function) {
    case 0x03:
        a.insert(a.end(), {0x18, 0xE0});
        break;
    case 0x04:
        a.insert(a.end(), {0xEE, 0x4B});
        break;
    case 0x13:
        a.insert(a.end(), {0xD0, 0xDF});
        break;
    case 0x83:
        a.insert(a.end(), {0x5B, 0x5E});
        break;
    }
    return a;
}

} // namespace mirv::test
