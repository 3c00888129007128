#include "pending_rows.h"

namespace mirv {

namespace {

constexpr std::string_view kHeader = "MeterID,MinuteAverage,Foward,Reverse,TXTctemperature1,"
                                     "TXTctemperature2,TXTreliang,TXTlengliang,TXTleijire_z,"
                                     "TXTleijileng_z,Alarmstatus,CreateTime,Complete";

// The row's fields in table order, as the file holds them.
std::vector<std::string*> fieldsOf(HistoryRecord& r) {
    return {&r.meterId,   &r.flow,       &r.forwardTotal, &r.reverseTotal,
            &r.inletTemp, &r.outletTemp, &r.heatPower,    &r.coldPower,
            &r.heatTotal, &r.coldTotal,  &r.alarmStatus,  &r.createTime};
}

constexpr std::size_t kFields = 12;

} // namespace

PendingRowsFile::PendingRowsFile(std::string path)
    : SyncedLinesFile(std::move(path), kHeader, kFields) {}

std::string pendingRowsPath(const std::string& databasePath) {
    return databasePath + "-pending.csv";
}

std::optional<std::string> PendingRowsFile::append(const std::vector<HistoryRecord>& rows) {
    std::vector<std::vector<std::string>> lines;
    lines.reserve(rows.size());
    for (HistoryRecord r : rows) {
        std::vector<std::string>& line = lines.emplace_back();
        for (const std::string* field : fieldsOf(r))
            line.push_back(*field);
    }
    return appendLines(lines);
}

PendingRowsFile::ReadResult
PendingRowsFile::read(const std::function<bool(const HistoryRecord&)>& row) const {
    HistoryRecord r;
    return readLines([&](std::vector<std::string>& fields) {
        const auto targets = fieldsOf(r);
        for (std::size_t i = 0; i < targets.size(); ++i)
            *targets[i] = std::move(fields[i]);
        return row(r);
    });
}

} // namespace mirv
