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
        UDPrecord(n);
}

void RecordLogger::UDPrecord(int n) {
    if (board_.MeterOk(n) != 1)
        return;
    const BoardRow& kt = board_.kt(n);
    RecMinuteAverage = kt[FlowRateCell];
    RecFoward = kt[ForwardTotalCell];
    RecReverse = kt[ReverseTotalCell];
    RecAlarmstatus = kt[StatusCell];
    RecTXTctemperature1 = kt[InletTempCell];
    RecTXTctemperature2 = kt[OutletTempCell];
    RecTXTreliang = kt[HeatPowerCell];
    RecTXTlengliang = kt[ColdPowerCell];
    RecTXTleijire_z = kt[HeatTotalCell];
    RecTXTleijileng_z = kt[ColdTotalCell];
    RecMeterID = std::to_string(n);
    sqlrecord();
}

void RecordLogger::sqlrecord() {
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(passEnd_ - steady_clock::now());
    Database db(databasePath_, static_cast<int>(std::max<milliseconds::rep>(0, left.count())));
    if (!db.isOpen())
        return;
    Statement insert(db, "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, "
                         "Alarmstatus, TXTctemperature1, TXTctemperature2, TXTreliang, "
                         "TXTlengliang, TXTleijire_z, TXTleijileng_z, CreateTime) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    int i = 0;
    for (const std::string* value :
         {&RecMeterID, &RecMinuteAverage, &RecFoward, &RecReverse, &RecAlarmstatus,
          &RecTXTctemperature1, &RecTXTctemperature2, &RecTXTreliang, &RecTXTlengliang,
          &RecTXTleijire_z, &RecTXTleijileng_z})
        insert.bind(++i, *value);
    insert.bind(++i, now());
    insert.step();
}

} // namespace mirv
