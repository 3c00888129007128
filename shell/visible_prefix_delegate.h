#pragma once

#include <QStyledItemDelegate>

namespace mirv {

// Draws a cell as the standard delegate does, but hands it only the part of a long text that
// can show in the cell: laying out a whole frame's hex to elide it costs more than the rest
// of the view. The cell looks the same; the model keeps the whole text.
class VisiblePrefixDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace mirv
