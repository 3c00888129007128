// A build that sums days up (again) says so once in the journal: the days' range, how many days
// and how many summaries; a build with nothing to do says nothing.
#include "create_database.h"
#include "database.h"
#include "day_summary_store.h"
#include "program_folder.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

std::vector<std::string> summaryEvents(const test::ProgramFolder& folder) {
    Database db(folder.databasePath());
    Statement q(db, "SELECT MeterID || ' ' || Phase || ' ' || Text || ' ' || Detail FROM Events "
                    "WHERE Kind = 'summaries' ORDER BY ID");
    std::vector<std::string> rows;
    while (q.step())
        rows.push_back(q.text(0));
    return rows;
}

TEST(SummariesRebuilt, OneJournalEntryPerBuildThatSummedDaysUp) {
    const char* const rows =
        "INSERT INTO Historydata (MeterID, Foward, TXTleijire_z, CreateTime) VALUES "
        "('1', '1.00', '1.00', '2026-02-27 10:00:00'), ('2', '1.00', '1.00', '2026-02-27 "
        "10:00:00'),"
        "('1', '2.00', '2.00', '2026-02-28 10:00:00'), ('2', '2.00', '2.00', '2026-02-28 "
        "10:00:00'),"
        "('1', '3.00', '3.00', '2026-03-01 10:00:00'), ('2', '3.00', '3.00', '2026-03-01 "
        "10:00:00')";
    const struct {
        const char* name;
        bool olderDatabase; // made before the summaries: every day is summed up
        const char* change; // rows edited by another program: their days go stale
        const char* detail;
    } cases[] = {
        {"a database made before the summaries", true, "",
         "2026-02-27至2026-03-01,共3天,6条日汇总"},
        {"rows edited and deleted", false,
         "UPDATE Historydata SET Foward = '9.00' WHERE MeterID = '2' AND CreateTime LIKE "
         "'2026-02-27%'; DELETE FROM Historydata WHERE MeterID = '1' AND CreateTime LIKE "
         "'2026-03-01%'",
         "2026-02-27至2026-03-01,共2天,2条日汇总"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ProgramFolder folder;
        if (c.olderDatabase)
            folder.exec("DROP TRIGGER Historyday_deleted; DROP TRIGGER Historyday_updated; "
                        "DROP TABLE Historyday; DROP TABLE HistorydayStale; "
                        "DROP TABLE HistorydayProgress");
        folder.exec(rows);
        if (c.olderDatabase)
            ASSERT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);
        else
            ASSERT_EQ(buildDaySummaries(folder.databasePath()), std::nullopt);
        EXPECT_TRUE(summaryEvents(folder).empty()) << "new rows folded in are no rebuild";
        folder.exec(c.change);

        ASSERT_EQ(buildDaySummaries(folder.databasePath()), std::nullopt);
        ASSERT_EQ(buildDaySummaries(folder.databasePath()), std::nullopt);
        EXPECT_EQ(summaryEvents(folder),
                  std::vector<std::string>{std::string("0 note 日汇总已重建 ") + c.detail});
    }
}

} // namespace
} // namespace mirv
