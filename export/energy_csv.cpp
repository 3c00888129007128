#include "energy_csv.h"

#include "csv_writer.h"
#include "energy_table.h"

#include <array>

namespace mirv {

std::string energyCsv(const std::vector<MeterEnergy>& meters, const MeterNames& names) {
    return csvText([&](CsvWriter& csv) {
        csv.writeRow(kEnergyCaptions);
        for (const EnergyRowTexts& row : energyTableTexts(meters, names)) {
            std::array<std::string_view, kEnergyColumns> fields;
            for (int c = 0; c < kEnergyColumns; ++c)
                fields[c] = row[c];
            csv.writeRow(fields);
        }
    });
}

} // namespace mirv
