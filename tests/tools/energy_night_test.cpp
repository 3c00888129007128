#include "program_folder.h"
#include "run_program.h"
#include "time_zone.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

// The night the clocks go back in Berlin: 96 records of meter 1 five minutes apart, the heat
// total 1 kWh more at each. Local time runs 00:00 .. 02:55 in summer time, then 02:00 .. 06:55
// again in winter time.
std::string nightRows() {
    std::string sql = "INSERT INTO Historydata (MeterID, TXTleijire_z, CreateTime) VALUES ";
    for (int k = 0; k < 96; ++k) {
        const int minute = k < 36 ? 5 * k : 120 + 5 * (k - 36);
        char row[96];
        std::snprintf(row, sizeof row, "%s('1', '%d.00', '2026-10-25 %02d:%02d:00')", k ? ", " : "",
                      1000 + k, minute / 60, minute % 60);
        sql += row;
    }
    return sql;
}

TEST(HistoryToolEnergy, TheNightTheClocksGoBackCountsInTrueTime) {
    test::ProgramFolder folder;
    folder.exec(nightRows());
    test::TimeZone zone("Europe/Berlin");
    const auto run = test::runProgram({MIRV_HISTORY_TOOL, "--db", folder.databasePath(), "energy",
                                       "--from", "2026-10-25", "--to", "2026-10-25 23:59:59",
                                       "--format", "csv", "--output", "-"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "\xEF\xBB\xBF"
              "表号,开始时间,结束时间,记录数,热量用量(kWh),冷量用量(kWh),"
              "正向用量(m³),反向用量(m³),最长间隔(分钟),回退次数,名称\r\n"
              "1,2026-10-25 00:00:00,2026-10-25 06:55:00,96,95.00,0.00,0.00,0.00,5.0,0,\r\n"
              "合计,,,96,95.00,0.00,0.00,0.00,,,\r\n");
}

} // namespace
} // namespace mirv
