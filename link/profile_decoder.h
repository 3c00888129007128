#pragma once

#include "meter_profile.h"
#include "readings_board.h"

#include <cstdint>
#include <span>
#include <vector>

namespace mirv {

// The register bytes one read's answer carried: 2 x count bytes, without address, function,
// byte count and CRC.
using ReadData = std::span<const std::uint8_t>;

// The board row the answers to a profile's reads make, one ReadData per read in the profile's
// order. A quantity the profile lacks, a value outside its range, or one a short ReadData cannot
// hold leaves its cell empty; the status cell is "通讯正常" and each alarm's text that is set.
BoardRow decodeWithProfile(const MeterProfile& profile, std::span<const ReadData> reads);

// How many registers a value of the type takes from its offset (the pair's integer only).
int registersOf(ValueType type);

} // namespace mirv
