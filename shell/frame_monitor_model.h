#pragma once

#include "frame_ring.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace mirv {

// The frame monitor's rows: a copy of the ring's frames, of one meter or all, taken when the
// tab refreshes, so the ring may go on filling while the rows are shown.
class FrameMonitorModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        TimeColumn,
        MeterColumn,
        DirectionColumn,
        VerdictColumn,
        LengthColumn,
        BytesColumn,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    // Copies the ring's frames.
    void take(const FrameRing& ring);
    // Shows the frames of one meter; 0 shows every meter's.
    void setMeter(int meter);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The text of one cell, and those of one row left to right, as the monitor shows them.
    QString cellText(int row, int column) const;
    QStringList rowTexts(int row) const;
    // Every row as a line of tab-separated texts, under a line of the headers.
    QString text() const;

  private:
    void select();

    std::vector<MonitorFrame> frames_;
    std::vector<std::uint32_t> shown_; // indices into frames_
    int meter_ = 0;
};

} // namespace mirv
