#include "history_model.h"

namespace mirv {

namespace {

struct GridColumn {
    const char* caption;
    int width;
};

constexpr GridColumn kGridColumns[HistoryRows::kColumns] = {
    {"ID", 800},        {"仪表编号", 1000}, {"瞬时流量", 1200}, {"正向累计", 1400},
    {"反向累计", 1300}, {"入口温度", 1000}, {"出口温度", 1000}, {"瞬时热量", 1000},
    {"瞬时冷量", 1000}, {"累积热量", 1300}, {"累积冷量", 1300}, {"报警状态", 2000},
    {"日期时间", 2000},
};

} // namespace

void HistoryModel::setRows(HistoryRows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int HistoryModel::widthTwips(int column) {
    return kGridColumns[column].width;
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
    return QString::fromUtf8(kGridColumns[section].caption);
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const {
    // Every column is locked: selectable, never editable.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace mirv
