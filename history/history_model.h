#pragma once

#include "history_rows.h"

#include <QAbstractTableModel>

namespace mirv {

// The query grid's rows: all 13 columns of Historydata with their captions, read-only, the
// stored texts as they are.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(HistoryRows rows);
    const HistoryRows& rows() const { return rows_; }

    // Column widths in twips, by position.
    static int widthTwips(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    HistoryRows rows_;
};

} // namespace mirv
