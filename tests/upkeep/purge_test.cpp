#include "database.h"
#include "program_folder.h"
#include "purge.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

std::string counts(const test::ProgramFolder& folder) {
    Database db(folder.databasePath());
    Statement q(db, "SELECT (SELECT count(*) FROM Historydata) || ' ' || "
                    "(SELECT count(*) FROM Historyday) || ' ' || "
                    "(SELECT count(*) FROM HistorydayStale)");
    return q.step() ? q.text(0) : db.error();
}

// The purge takes the daily summaries with the rows, and a row deleted after it still marks
// its day stale.
TEST(Purge, TakesTheSummariesAlongAndKeepsMarkingDeletes) {
    test::ProgramFolder folder;
    folder.exec("INSERT INTO Historydata (MeterID, CreateTime) VALUES "
                "('1', '2025-03-01 10:00:00'), ('2', '2025-03-02 10:00:00');"
                "INSERT INTO Historyday VALUES ('2025-03-01', '1', 1, '', '', NULL, NULL, 0, 0, "
                "';;;', 1, 1);"
                "DELETE FROM Historydata WHERE MeterID = '2'");
    ASSERT_EQ(counts(folder), "1 1 1");
    const PurgeResult purged = purgeHistory(folder.databasePath());
    ASSERT_TRUE(purged.opened);
    ASSERT_EQ(purged.failure, std::nullopt);
    EXPECT_EQ(counts(folder), "0 0 0");
    folder.exec("INSERT INTO Historydata (MeterID, CreateTime) VALUES ('3', '2025-04-01 10:00');"
                "DELETE FROM Historydata");
    EXPECT_EQ(counts(folder), "0 0 1");
}

} // namespace
} // namespace mirv
