#pragma once

#include "read_request.h"

#include <array>
#include <cstdint>
#include <string>

namespace mirv {

using ReadAnswer = std::array<std::uint8_t, kAnswerBytes>;

// The quantities the station reads from a meter's register block (registers 0x30..0x8A).
struct RegisterMap {
    float flowRate = 0;
    std::uint32_t forwardInt = 0;
    float forwardFrac = 0;
    std::uint32_t reverseInt = 0;
    float reverseFrac = 0;
    std::uint16_t exciteAlarm = 0;
    std::uint16_t electrodeAlarm = 0;
    std::uint16_t emptyPipeAlarm = 0;
    std::uint16_t upperAlarm = 0;
    std::uint16_t lowerAlarm = 0;
    float flowSpeed = 0;
    float inletTemp = 0;
    float outletTemp = 0;
    float heatPower = 0;
    float coldPower = 0;
    std::uint32_t heatTotalLow = 0;
    std::uint32_t heatTotalHigh = 0;
    float heatTotalFrac = 0;
    std::uint32_t coldTotalLow = 0;
    std::uint32_t coldTotalHigh = 0;
    float coldTotalFrac = 0;
};

// Whether the two CRC bytes at the end match the 185 bytes before them.
bool answerCrcMatches(const ReadAnswer& answer);

RegisterMap readRegisterMap(const ReadAnswer& answer);

// A complete answer with a correct CRC; `registers` fills the mapped registers, every other
// register of the block is 0. The simulator and the tests build their answers with it.
ReadAnswer buildAnswer(std::uint8_t address, const RegisterMap& registers);

} // namespace mirv
