#include "history_model.h"

#include "history_columns.h"

namespace mirv {

void HistoryModel::setRows(HistoryRows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int HistoryModel::widthTwips(int column) {
    return kHistoryColumns[column].widthTwips;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : HistoryRows::kColumns;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const std::string_view text = rows_.cell(static_cast<std::size_t>(index.row()), index.column());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= HistoryRows::kColumns)
        return {};
    return QString::fromUtf8(kHistoryColumns[section].caption);
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const {
    // Every column is locked: selectable, never editable.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace mirv
