#include "history_model.h"

#include "database.h"
#include "history_columns.h"
#include "history_query.h"
#include "meter_plan_reader.h"

namespace mirv {

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

HistoryModel::~HistoryModel() = default;

void HistoryModel::select(const std::string& databasePath, const HistorySelection& selection) {
    beginResetModel();
    pages_.clear();
    readRow_.reset();
    db_ = std::make_unique<Database>(databasePath);
    auto ids = selectHistoryIds(*db_, selection);
    ids_ = ids ? std::move(*ids) : std::vector<std::int64_t>{};
    ids_.shrink_to_fit();
    names_ = ids_.empty() ? MeterNames() : readMeterNames(*db_);
    if (ids_.empty())
        db_.reset();
    else
        readRow_ = std::make_unique<Statement>(*db_, historyRowSql());
    endResetModel();
}

void HistoryModel::clear() {
    beginResetModel();
    pages_.clear();
    readRow_.reset();
    db_.reset();
    ids_ = {};
    names_ = {};
    endResetModel();
}

int HistoryModel::widthTwips(int column) {
    return kHistoryColumns[static_cast<std::size_t>(column)].widthTwips;
}

std::size_t HistoryModel::memoryBytes() const {
    std::size_t bytes = ids_.capacity() * sizeof(std::int64_t);
    for (const Page& p : pages_)
        bytes += p.rows.bytes();
    return bytes;
}

const HistoryRows& HistoryModel::page(std::size_t number) const {
    for (auto it = pages_.begin(); it != pages_.end(); ++it) {
        if (it->number == number) {
            pages_.splice(pages_.begin(), pages_, it);
            return pages_.front().rows;
        }
    }
    if (pages_.size() >= kCachedPages)
        pages_.pop_back();
    Page p{number, {}};
    const std::size_t end = std::min(ids_.size(), (number + 1) * kPageRows);
    for (std::size_t r = number * kPageRows; r < end; ++r) {
        readRow_->reset();
        readRow_->bind(1, ids_[r]);
        if (readRow_->step()) {
            for (int c = 0; c < HistoryRows::kColumns; ++c)
                p.rows.addCell(readRow_->textView(c));
            continue;
        }
        // A row deleted since the query shows its ID and nothing else.
        p.rows.addCell(std::to_string(ids_[r]));
        for (int c = 1; c < HistoryRows::kColumns; ++c)
            p.rows.addCell({});
    }
    readRow_->reset();
    pages_.push_front(std::move(p));
    return pages_.front().rows;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : HistoryRows::kColumns;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        static_cast<std::size_t>(index.row()) >= ids_.size())
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    const std::string_view text = page(row / kPageRows).cell(row % kPageRows, index.column());
    if (index.column() == kMeterIdColumn && !names_.empty())
        return QString::fromStdString(names_.label(text));
    // The tool tip shows a text the column is too narrow for in whole.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= HistoryRows::kColumns)
        return {};
    return QString::fromUtf8(kHistoryColumns[static_cast<std::size_t>(section)].caption);
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const {
    // Every column is locked: selectable, never editable.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace mirv
