#pragma once

#include "event_journal.h"
#include "line_readout.h"
#include "readings_board.h"
#include "station_feed.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mirv {

// One meter's line of the board as the pages show it.
struct MeterView {
    int meter = 0;
    BoardRow cells;
    MeterMark mark;
};

// The board as /api/board answers it: each meter's readings by name, its state (ok, silent,
// off: not polled) and alarm (none, unacknowledged, acknowledged), the message line and the
// alarms that are not normal.
std::string boardJson(const std::vector<MeterView>& meters, const std::string& message,
                      const std::vector<AlarmRow>& alarms);
// The line's counters as the 通讯诊断 tab shows them, as /api/line answers them.
std::string lineJson(const LineReadout& line);

// What the web server's threads know of the station: texts the event thread copies in, read
// under a mutex, so that no server thread ever touches the engine. Waiters for a newer board
// (the pages' event streams) are woken by each new one and by close().
class SnapshotBox {
  public:
    using Text = std::shared_ptr<const std::string>;

    void setBoard(std::string json);
    void setLine(std::string json);
    Text board() const;
    Text line() const;

    // The board once its version is past `seen` (then `seen` becomes its version), or nothing
    // after `timeout` or when the box is closed.
    Text waitBoard(std::uint64_t& seen, std::chrono::milliseconds timeout) const;
    std::uint64_t boardVersion() const;
    void close();
    bool closed() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Text board_ = std::make_shared<const std::string>("{}");
    Text line_ = std::make_shared<const std::string>("{}");
    std::uint64_t version_ = 0;
    bool closed_ = false;
};

} // namespace mirv
