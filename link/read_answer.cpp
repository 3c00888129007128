#include "read_answer.h"

#include "crc16.h"

#include <bit>
#include <span>

namespace mirv {

namespace {

// Offset of register R in the answer.
constexpr std::size_t at(std::uint16_t reg) {
    return 3 + 2 * (reg - kFirstRegister);
}

std::uint32_t getU32(const ReadAnswer& a, std::size_t o) {
    return std::uint32_t{a[o]} << 24 | std::uint32_t{a[o + 1]} << 16 |
           std::uint32_t{a[o + 2]} << 8 | a[o + 3];
}
std::uint16_t getU16(const ReadAnswer& a, std::size_t o) {
    return static_cast<std::uint16_t>(a[o] << 8 | a[o + 1]);
}
float getFloat(const ReadAnswer& a, std::size_t o) {
    return std::bit_cast<float>(getU32(a, o));
}

void putU32(ReadAnswer& a, std::size_t o, std::uint32_t v) {
    a[o] = v >> 24;
    a[o + 1] = (v >> 16) & 0xFF;
    a[o + 2] = (v >> 8) & 0xFF;
    a[o + 3] = v & 0xFF;
}
void putU16(ReadAnswer& a, std::size_t o, std::uint16_t v) {
    a[o] = v >> 8;
    a[o + 1] = v & 0xFF;
}
void putFloat(ReadAnswer& a, std::size_t o, float v) {
    putU32(a, o, std::bit_cast<std::uint32_t>(v));
}

// One table drives both directions so reading and building never disagree.
template <typename Answer, typename Map, typename F32, typename U32, typename U16>
void eachRegister(Answer& a, Map& m, F32 f32, U32 u32, U16 u16) {
    f32(a, at(0x30), m.flowRate);
    u32(a, at(0x33), m.forwardInt);
    f32(a, at(0x35), m.forwardFrac);
    u32(a, at(0x38), m.reverseInt);
    f32(a, at(0x3A), m.reverseFrac);
    u16(a, at(0x3D), m.exciteAlarm);
    u16(a, at(0x3E), m.electrodeAlarm);
    u16(a, at(0x3F), m.emptyPipeAlarm);
    u16(a, at(0x40), m.upperAlarm);
    u16(a, at(0x41), m.lowerAlarm);
    f32(a, at(0x42), m.flowSpeed);
    f32(a, at(0x50), m.inletTemp);
    f32(a, at(0x58), m.outletTemp);
    f32(a, at(0x65), m.heatPower);
    f32(a, at(0x67), m.coldPower);
    u32(a, at(0x6A), m.heatTotalLow);
    u32(a, at(0x6C), m.heatTotalHigh);
    f32(a, at(0x6E), m.heatTotalFrac);
    u32(a, at(0x70), m.coldTotalLow);
    u32(a, at(0x72), m.coldTotalHigh);
    f32(a, at(0x74), m.coldTotalFrac);
}

} // namespace

bool answerCrcMatches(const ReadAnswer& answer) {
    const auto crc = crc16(std::span(answer).first(kAnswerBytes - 2));
    return answer[kAnswerBytes - 2] == crc[1] && answer[kAnswerBytes - 1] == crc[0];
}

RegisterMap readRegisterMap(const ReadAnswer& answer) {
    RegisterMap m;
    eachRegister(
        answer, m, [](const ReadAnswer& a, std::size_t o, float& v) { v = getFloat(a, o); },
        [](const ReadAnswer& a, std::size_t o, std::uint32_t& v) { v = getU32(a, o); },
        [](const ReadAnswer& a, std::size_t o, std::uint16_t& v) { v = getU16(a, o); });
    return m;
}

ReadAnswer buildAnswer(std::uint8_t address, const RegisterMap& registers) {
    ReadAnswer a{};
    a[0] = address;
    a[1] = 0x03;
    a[2] = 2 * kRegisterCount;
    eachRegister(
        a, registers, [](ReadAnswer& out, std::size_t o, float v) { putFloat(out, o, v); },
        [](ReadAnswer& out, std::size_t o, std::uint32_t v) { putU32(out, o, v); },
        [](ReadAnswer& out, std::size_t o, std::uint16_t v) { putU16(out, o, v); });
    const auto crc = crc16(std::span(a).first(kAnswerBytes - 2));
    a[kAnswerBytes - 2] = crc[1];
    a[kAnswerBytes - 1] = crc[0];
    return a;
}

} // namespace mirv
