#pragma once

#include "meter_energy.h"
#include "meter_names.h"

#include <string>
#include <vector>

namespace mirv {

// The energy table as a CSV file's bytes, written by the history export's CSV writer: the
// captions, then the rows with the texts as shown.
std::string energyCsv(const std::vector<MeterEnergy>& meters, const MeterNames& names);

} // namespace mirv
