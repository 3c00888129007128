#include "history_record.h"

namespace mirv {

HistoryRecord recordOf(int n, const BoardRow& cells, std::string createTime) {
    return {std::to_string(n),       cells[FlowRateCell],  cells[ForwardTotalCell],
            cells[ReverseTotalCell], cells[StatusCell],    cells[InletTempCell],
            cells[OutletTempCell],   cells[HeatPowerCell], cells[ColdPowerCell],
            cells[HeatTotalCell],    cells[ColdTotalCell], std::move(createTime)};
}

} // namespace mirv
