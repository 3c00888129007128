#pragma once

#include "meter_energy.h"
#include "written_order.h"

#include <optional>
#include <string_view>

namespace mirv {

class LocalSeconds;

// Counts one meter's records, in written order, into its MeterEnergy. Non-numeric and empty
// cells are skipped per total; a total that went down is a step back, never negative use.
class MeterEnergyTally {
  public:
    MeterEnergyTally(std::string meterId, LocalSeconds& zone) : clock_(&zone) {
        result_.meterId = std::move(meterId);
    }

    void add(std::string_view createTime,
             const std::array<std::string_view, kEnergyTotals>& totals);

    const MeterEnergy& result() const { return result_; }

  private:
    MeterEnergy result_;
    std::array<std::optional<Fixed>, kEnergyTotals> last_;
    WrittenClock clock_;
};

} // namespace mirv
