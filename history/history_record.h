#pragma once

#include "readings_board.h"

#include <string>

namespace mirv {

// One row for Historydata as the logger writes it: a meter's board texts as shown, and the
// local time the row was taken ('YYYY-MM-DD HH:MM:SS'). The flow velocity is not stored.
struct HistoryRecord {
    std::string meterId;      // MeterID
    std::string flow;         // MinuteAverage
    std::string forwardTotal; // Foward
    std::string reverseTotal; // Reverse
    std::string alarmStatus;  // Alarmstatus
    std::string inletTemp;    // TXTctemperature1
    std::string outletTemp;   // TXTctemperature2
    std::string heatPower;    // TXTreliang
    std::string coldPower;    // TXTlengliang
    std::string heatTotal;    // TXTleijire_z
    std::string coldTotal;    // TXTleijileng_z
    std::string createTime;   // CreateTime

    bool operator==(const HistoryRecord&) const = default;
};

// Meter n's row as the board shows it, stamped with `createTime`.
HistoryRecord recordOf(int n, const BoardRow& cells, std::string createTime);

} // namespace mirv
