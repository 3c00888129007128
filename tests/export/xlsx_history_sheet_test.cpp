#include "history_export.h"
#include "office_csv.h"
#include "program_folder.h"
#include "xlsx_history_sheet.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

TEST(XlsxHistorySheet, LongSelectionGoesOnInTheNextSheetUnderTheCaptions) {
    test::ProgramFolder folder;
    folder.exec("INSERT INTO Historydata (MeterID, CreateTime) VALUES "
                "('1', '2026-01-01 00:01:00'), ('2', '2026-01-01 00:02:00'),"
                "('3', '2026-01-01 00:03:00'), ('4', '2026-01-01 00:04:00'),"
                "('5', '2026-01-01 00:05:00')");
    const std::string path = folder.path() + "/long.xlsx";
    {
        Database db(folder.databasePath());
        XlsxHistorySheet sheet(path, folder.path(), 3); // captions and two rows a sheet
        const ExportResult result =
            exportHistory(db, selectionFrom({"", "2026-01-01", "2026-01-02", "1"}), sheet);
        EXPECT_EQ(result.rows, 5);
        EXPECT_FALSE(result.writeFailed);
    }
    const test::OfficeCsv office(path);
    const std::string captions = R"("ID","仪表编号","瞬时流量","正向累计","反向累计","入口温度",)"
                                 R"("出口温度","瞬时热量","瞬时冷量","累积热量","累积冷量",)"
                                 R"("报警状态","日期时间")"
                                 "\n";
    EXPECT_EQ(office.sheet(1), captions + "1,1,,,,,,,,,,,2026-01-01 00:01:00\n" +
                                   "2,2,,,,,,,,,,,2026-01-01 00:02:00\n")
        << office.run().err;
    EXPECT_EQ(office.sheet(2), captions + "3,3,,,,,,,,,,,2026-01-01 00:03:00\n" +
                                   "4,4,,,,,,,,,,,2026-01-01 00:04:00\n");
    EXPECT_EQ(office.sheet(3), captions + "5,5,,,,,,,,,,,2026-01-01 00:05:00\n");
    EXPECT_EQ(office.sheet(4), "");
}

} // namespace
} // namespace mirv
