#pragma once

#include "energy_table.h"

#include <optional>
#include <string>
#include <vector>

namespace mirv {

// The energy table as an XLSX workbook at `path`: the captions, then the rows as shown, typed
// the way the report types history cells: numbers as numbers (showing the decimals they are
// shown with), times as date-times, names and other texts as texts. The failure's description, if
// any.
std::optional<std::string> writeEnergyXlsx(const std::string& path,
                                           const std::vector<EnergyRowTexts>& rows);

} // namespace mirv
