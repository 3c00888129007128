#include "energy_csv.h"

#include "csv_writer.h"
#include "energy_table.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace mirv {

std::string energyCsv(const std::vector<MeterEnergy>& meters) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (!out)
        throw std::bad_alloc();
    {
        CsvWriter csv(out);
        csv.writeRow(kEnergyCaptions);
        for (const EnergyRowTexts& row : energyTableTexts(meters)) {
            std::array<std::string_view, kEnergyColumns> fields;
            for (int c = 0; c < kEnergyColumns; ++c)
                fields[c] = row[c];
            csv.writeRow(fields);
        }
    }
    const bool closed = std::fclose(out) == 0;
    std::unique_ptr<char, decltype(&std::free)> owned(buffer, &std::free);
    if (!closed)
        throw std::bad_alloc();
    return std::string(buffer, size);
}

} // namespace mirv
