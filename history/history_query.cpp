#include "history_query.h"

#include "database.h"

namespace mirv {

namespace {

// The minute of the hour is characters 15-16 of the stored 'YYYY-MM-DD HH:MM:SS'. A negative
// step selects like its absolute value, as SQLite's % takes the sign of the left side.
constexpr const char* kColumns =
    "SELECT ID, MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, TXTctemperature2, "
    "TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, CreateTime "
    "FROM Historydata WHERE CAST(substr(CreateTime, 15, 2) AS INTEGER) % ?1 = 0 ";

} // namespace

bool streamHistory(Database& conn, const HistorySelection& selection,
                   const std::function<bool(const HistoryRowView&)>& onRow) {
    if (!conn.isOpen())
        return false;
    if (selection.selectsNothing())
        return true;
    const std::string sql = std::string(kColumns) +
                            (selection.allMeters ? "" : "AND MeterID = ?4 ") +
                            "AND CreateTime BETWEEN ?2 AND ?3 ORDER BY CreateTime, ID";
    Statement query(conn, sql);
    query.bind(1, std::int64_t{selection.step});
    query.bind(2, *selection.from);
    query.bind(3, *selection.to);
    if (!selection.allMeters)
        query.bind(4, selection.meterText);
    HistoryRowView row;
    while (query.step()) {
        for (int c = 0; c < HistoryRows::kColumns; ++c)
            row[c] = query.textView(c);
        if (!onRow(row))
            return true;
    }
    return !query.failed();
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

} // namespace mirv
