#pragma once

#include "station_snapshot.h"

#include <QObject>
#include <QTimer>

namespace mirv {

// Copies what the pages show of `feed` into `box`, on the event thread where the feed lives:
// the board a moment after it changes (changes that come together are copied once), the
// line's counters every second.
class SnapshotFeed : public QObject {
    Q_OBJECT
  public:
    SnapshotFeed(StationFeed& feed, SnapshotBox& box, QObject* parent = nullptr);

  private:
    void copyBoard();
    void copyLine();

    StationFeed& feed_;
    SnapshotBox& box_;
    QTimer boardTimer_;
    QTimer lineTimer_;
    LineReadout readout_;
};

} // namespace mirv
