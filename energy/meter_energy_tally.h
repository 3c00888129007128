#pragma once

#include "meter_energy.h"

#include <optional>
#include <string_view>

namespace mirv {

// Counts one meter's records, in CreateTime, ID order, into its MeterEnergy. Non-numeric and
// empty cells are skipped per total; a total that went down is a step back, never negative use.
class MeterEnergyTally {
  public:
    explicit MeterEnergyTally(std::string meterId) { result_.meterId = std::move(meterId); }

    // `seconds` is the record's time read as real time, nothing when it could not be read.
    void add(std::string_view createTime, std::optional<std::int64_t> seconds,
             const std::array<std::string_view, kEnergyTotals>& totals);

    const MeterEnergy& result() const { return result_; }

  private:
    MeterEnergy result_;
    std::array<std::optional<Fixed>, kEnergyTotals> last_;
    std::optional<std::int64_t> lastSeconds_;
};

} // namespace mirv
