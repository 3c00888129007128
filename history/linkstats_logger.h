#pragma once

#include <string>

namespace mirv {

class HistoryWriter;
class LineStats;

// Hands the line's hour tallies to the history writer when an hour has ended. Runs on the
// event thread.
class LinkstatsLogger {
  public:
    LinkstatsLogger(LineStats& stats, HistoryWriter& writer) : stats_(stats), writer_(writer) {}

    // `localNow` is the local time 'YYYY-MM-DD HH:MM:SS'. The first call starts the hour;
    // a later one in another hour writes one row per meter polled since, stamped with the
    // hour the counting began in.
    void check(const std::string& localNow);

  private:
    LineStats& stats_;
    HistoryWriter& writer_;
    std::string hour_;
};

} // namespace mirv
