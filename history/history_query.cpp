#include "history_query.h"

#include "database.h"

namespace mirv {

namespace {

constexpr const char* kAllColumns =
    "ID, MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, TXTctemperature2, "
    "TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, CreateTime";

// The minute of the hour is characters 15-16 of the stored 'YYYY-MM-DD HH:MM:SS'; the same
// expression is indexed together with CreateTime.
constexpr const char* kMinute = "CAST(substr(CreateTime, 15, 2) AS INTEGER)";

// The rows whose minute is divisible by the step, as the values the minute can take: two
// characters cast to an integer lie in -9..99. Listing them lets the database look up those
// minutes in its index instead of reading every row of the range; a negative step selects
// like its absolute value. A step of 1 selects every row.
std::string minuteCondition(int step) {
    if (step == 1 || step == -1)
        return {};
    std::string list;
    for (int v = -9; v <= 99; ++v) {
        if (v % step != 0)
            continue;
        if (!list.empty())
            list += ',';
        list += std::to_string(v);
    }
    return std::string("AND ") + kMinute + " IN (" + list + ") ";
}

} // namespace

std::string selectionRange(const HistorySelection& selection) {
    return std::string(" FROM Historydata WHERE CreateTime BETWEEN ?1 AND ?2") +
           (selection.allMeters ? "" : " AND MeterID = ?3");
}

void bindSelectionRange(Statement& query, const HistorySelection& selection) {
    query.bind(1, *selection.from);
    query.bind(2, *selection.to);
    if (!selection.allMeters)
        query.bind(3, selection.meterText);
}

namespace {

std::string selectionSql(const HistorySelection& selection, const char* columns) {
    return std::string("SELECT ") + columns + selectionRange(selection) + " " +
           minuteCondition(selection.step) + "ORDER BY CreateTime, ID";
}

} // namespace

bool streamHistory(Database& conn, const HistorySelection& selection,
                   const std::function<bool(const HistoryRowView&)>& onRow) {
    if (!conn.isOpen())
        return false;
    if (selection.selectsNothing())
        return true;
    Statement query(conn, selectionSql(selection, kAllColumns));
    bindSelectionRange(query, selection);
    HistoryRowView row;
    while (query.step()) {
        for (int c = 0; c < HistoryRows::kColumns; ++c)
            row[c] = query.textView(c);
        if (!onRow(row))
            return true;
    }
    return !query.failed();
}

std::optional<std::vector<std::int64_t>>
selectHistoryIds(Database& conn, const HistorySelection& selection, std::size_t atMost) {
    if (!conn.isOpen())
        return std::nullopt;
    std::vector<std::int64_t> ids;
    if (selection.selectsNothing())
        return ids;
    Statement query(conn, selectionSql(selection, "ID"));
    bindSelectionRange(query, selection);
    while (ids.size() < atMost && query.step())
        ids.push_back(query.integer(0));
    if (query.failed())
        return std::nullopt;
    return ids;
}

HistoryRows selectHistory(const HistorySelection& selection, Database& conn) {
    HistoryRows rows;
    const bool ok = streamHistory(conn, selection, [&](const HistoryRowView& row) {
        for (std::string_view cell : row)
            rows.addCell(cell);
        return true;
    });
    return ok ? rows : HistoryRows{};
}

HistoryRows queryHistory(const std::string& databasePath, const HistorySelection& selection) {
    Database conn(databasePath);
    return selectHistory(selection, conn);
}

std::string historyRowSql() {
    return std::string("SELECT ") + kAllColumns + " FROM Historydata WHERE ID = ?1";
}

} // namespace mirv
