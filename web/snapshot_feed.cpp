#include "snapshot_feed.h"

namespace mirv {

namespace {

// How long the board waits for changes that come together before it is copied: short enough
// that a value on the line shows well within a second.
constexpr int kGatherMs = 50;
constexpr int kLineMs = 1000;

} // namespace

SnapshotFeed::SnapshotFeed(StationFeed& feed, SnapshotBox& box, QObject* parent)
    : QObject(parent), feed_(feed), box_(box) {
    boardTimer_.setSingleShot(true);
    boardTimer_.setInterval(kGatherMs);
    connect(&boardTimer_, &QTimer::timeout, this, &SnapshotFeed::copyBoard);
    auto changed = [this] {
        if (!boardTimer_.isActive())
            boardTimer_.start();
    };
    connect(&feed_, &StationFeed::rowChanged, this, changed);
    connect(&feed_, &StationFeed::markChanged, this, changed);
    connect(&feed_, &StationFeed::messageChanged, this, changed);
    connect(&feed_, &StationFeed::alarmsChanged, this, changed);
    lineTimer_.setInterval(kLineMs);
    connect(&lineTimer_, &QTimer::timeout, this, &SnapshotFeed::copyLine);
    lineTimer_.start();
    copyBoard();
    copyLine();
}

void SnapshotFeed::copyBoard() {
    std::vector<MeterView> meters;
    meters.reserve(kMeters);
    for (int n = 1; n <= kMeters; ++n)
        meters.push_back({n, feed_.row(n), feed_.mark(n)});
    box_.setBoard(boardJson(meters, feed_.message().toStdString(), feed_.alarms()));
}

void SnapshotFeed::copyLine() {
    feed_.readLine(readout_);
    box_.setLine(lineJson(readout_));
}

} // namespace mirv
