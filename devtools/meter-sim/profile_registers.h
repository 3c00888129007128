#pragma once

#include "meter_profile.h"
#include "read_answer.h"

#include <cstdint>
#include <vector>

namespace mirv::sim {

// The registers of each of a profile's reads (2 x count bytes, in the profile's order) for a
// meter whose readings are `m`: each of the profile's quantities written in its type, order,
// scale and unit; alarm i of the profile set when bit i of `alarms` is. Registers no quantity
// uses hold 0.
std::vector<std::vector<std::uint8_t>> profileRegisters(const MeterProfile& profile,
                                                        const RegisterMap& m, unsigned alarms);

} // namespace mirv::sim
