#pragma once

#include "read_request.h"

#include <array>
#include <cstdint>
#include <string>

namespace mirv {

using ReadAnswer = std::array<std::uint8_t, kAnswerBytes>;

// The quantities the station reads from a meter's register block (registers 0x30..0x8A).
struct RegisterMap {
    float FlowRate = 0;
    std::uint32_t ForwardInt = 0;
    float ForwardFrac = 0;
    std::uint32_t ReverseInt = 0;
    float ReverseFrac = 0;
    std::uint16_t ExciteAlarm = 0;
    std::uint16_t ElectrodeAlarm = 0;
    std::uint16_t EmptyPipeAlarm = 0;
    std::uint16_t UpperAlarm = 0;
    std::uint16_t LowerAlarm = 0;
    float FlowSpeed = 0;
    float InletTemp = 0;
    float OutletTemp = 0;
    float HeatPower = 0;
    float ColdPower = 0;
    std::uint32_t HeatTotalLow = 0;
    std::uint32_t HeatTotalHigh = 0;
    float HeatTotalFrac = 0;
    std::uint32_t ColdTotalLow = 0;
    std::uint32_t ColdTotalHigh = 0;
    float ColdTotalFrac = 0;
};

// Whether the two CRC bytes at the end match the 185 bytes before them.
bool answerCrcMatches(const ReadAnswer& answer);

RegisterMap readRegisterMap(const ReadAnswer& answer);

// A complete answer with a correct CRC; `registers` fills the mapped registers, every other
// register of the block is 0. The simulator and the tests build their answers with it.
ReadAnswer buildAnswer(std::uint8_t address, const RegisterMap& registers);

} // namespace mirv
