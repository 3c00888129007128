#include "record_logger.h"

#include "database.h"
#include "local_time.h"

#include <algorithm>

namespace mirv {

RecordLogger::RecordLogger(std::string databasePath, const ReadingsBoard& board)
    : now(localTimeNow), databasePath_(std::move(databasePath)), board_(board) {}

void RecordLogger::recordAll() {
    passEnd_ = std::chrono::steady_clock::now() + passBudget;
    for (int n = 1; n <= kMeters; ++n)
        recordMeter(n);
}

void RecordLogger::recordMeter(int n) {
    if (!board_.answered(n))
        return;
    staged = recordOf(n, board_.row(n), now());
    appendStagedRow();
}

void RecordLogger::appendStagedRow() {
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(passEnd_ - steady_clock::now());
    Database db(databasePath_, static_cast<int>(std::max<milliseconds::rep>(0, left.count())));
    if (!db.isOpen())
        return;
    Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                         "Alarmstatus, TXTctemperature1, TXTctemperature2, TXTreliang, "
                         "TXTlengliang, TXTleijire_z, TXTleijileng_z, CreateTime) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    const HistoryRecord& r = staged;
    int i = 0;
    for (const std::string* value :
         {&r.meterId, &r.flow, &r.forwardTotal, &r.reverseTotal, &r.alarmStatus, &r.inletTemp,
          &r.outletTemp, &r.heatPower, &r.coldPower, &r.heatTotal, &r.coldTotal, &r.createTime})
        insert.bind(++i, *value);
    insert.step();
}

} // namespace mirv
