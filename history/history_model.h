#pragma once

#include "history_rows.h"
#include "meter_names.h"
#include "query_criteria.h"

#include <QAbstractTableModel>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace mirv {

class Database;
class Statement;

// The query grid's rows: all 13 columns of Historydata with their captions, read-only, the
// stored texts as they are, but for a named meter's number, which shows with its name. A query
// keeps only the IDs of its rows; the texts of the rows the view shows are read from the database
// when it asks for them, a page at a time, so a selection of millions of rows stays small.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit HistoryModel(QObject* parent = nullptr);
    ~HistoryModel() override;

    // Runs the selection; on failure the grid shows no rows.
    void select(const std::string& databasePath, const HistorySelection& selection);
    void clear();

    // Column widths in twips, by position.
    static int widthTwips(int column);
    // What the rows take in memory.
    std::size_t memoryBytes() const;
    // The names the query read with its rows.
    const MeterNames& meterNames() const { return names_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    static constexpr std::size_t kPageRows = 256;
    static constexpr std::size_t kCachedPages = 16;
    struct Page {
        std::size_t number;
        HistoryRows rows;
    };

    const HistoryRows& page(std::size_t number) const;

    std::vector<std::int64_t> ids_;
    MeterNames names_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<Statement> readRow_;
    mutable std::list<Page> pages_; // most recently used first
};

} // namespace mirv
