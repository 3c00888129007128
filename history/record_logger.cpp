#include "record_logger.h"

#include "history_writer.h"
#include "local_time.h"

namespace mirv {

RecordLogger::RecordLogger(const ReadingsBoard& board, HistoryWriter& writer)
    : now(localTimeNow), board_(board), writer_(writer) {}

void RecordLogger::recordAll() {
    std::vector<HistoryRecord> pass;
    for (int n = 1; n <= kMeters; ++n)
        if (board_.answered(n))
            pass.push_back(recordOf(meterOfRow(n), board_.row(n), now()));
    // Even an empty pass writes what earlier passes could not.
    writer_.write(std::move(pass));
}

} // namespace mirv
