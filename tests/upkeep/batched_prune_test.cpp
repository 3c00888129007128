#include "batched_prune.h"
#include "database.h"
#include "program_folder.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace mirv {
namespace {

std::vector<std::int64_t> ids(Database& db) {
    std::vector<std::int64_t> out;
    Statement q(db, "SELECT ID FROM Historydata ORDER BY ID");
    while (q.step())
        out.push_back(q.integer(0));
    return out;
}

std::string settingsRow(Database& db) {
    Statement q(db, "SELECT timer || minute || com || Settings || num FROM mirve");
    return q.step() ? q.text(0) : "";
}

TEST(BatchedPrune, DeletesExactlyTheRowsBefore) {
    const struct {
        const char* before;
        std::int64_t deleted;
        std::vector<std::int64_t> left;
    } cases[] = {
        {"2026-02-01 00:00:00", 10, {3, 5, 13}},
        {"2026-01-20 00:03:00", 5, {3, 4, 5, 9, 10, 11, 12, 13}},
        {"2025-12-31 23:59:59", 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        test::ProgramFolder folder;
        folder.exec("UPDATE mirve SET timer = '300', num = '7';"
                    "INSERT INTO Historydata (ID, MeterID, CreateTime) VALUES "
                    "(1, '1', '2025-12-31 23:59:59'), (2, '1', '2026-01-15 12:00:00'),"
                    "(3, '1', '2026-02-01 00:00:00'), (4, '2', '2026-01-31 23:59:59'),"
                    "(5, '2', '2026-03-01 00:00:00'), (6, '3', '2026-01-20 00:00:00'),"
                    "(7, '3', '2026-01-20 00:01:00'), (8, '3', '2026-01-20 00:02:00'),"
                    "(9, '3', '2026-01-20 00:03:00'), (10, '3', '2026-01-20 00:04:00'),"
                    "(11, '3', '2026-01-20 00:05:00'), (12, '3', '2026-01-20 00:06:00'),"
                    "(13, '4', NULL)");
        Database db(folder.databasePath());
        EXPECT_EQ(countHistoryBefore(db, c.before), c.deleted);
        PruneOptions options;
        options.batchRows = 3;
        options.pause = std::chrono::milliseconds(0);
        const PruneResult result = pruneHistoryBefore(db, c.before, options);
        EXPECT_FALSE(result.failed) << db.error();
        EXPECT_EQ(result.deleted, c.deleted);
        EXPECT_EQ(ids(db), c.left);
        EXPECT_EQ(settingsRow(db), "300119600"
                                   "7");
        // Numbers are never handed out again.
        ASSERT_TRUE(db.exec("INSERT INTO Historydata (MeterID) VALUES ('5')"));
        EXPECT_EQ(ids(db).back(), 14);
    }
}

TEST(BatchedPrune, LoggingPassDuringThePruneGetsIn) {
    test::ProgramFolder folder;
    std::string sql = "BEGIN;";
    for (int i = 0; i < 40000; ++i)
        sql += "INSERT INTO Historydata (MeterID, MinuteAverage, CreateTime) VALUES ('" +
               std::to_string(i % 20 + 1) + "', '12.5000', '2025-06-01 00:00:00');";
    folder.exec(sql + "COMMIT;");

    std::atomic<bool> pruning{true};
    std::vector<double> passes;
    std::thread logger([&] {
        Database db(folder.databasePath(), 10000);
        Statement insert(db, "INSERT INTO Historydata (MeterID, CreateTime) "
                             "VALUES ('1', '2026-06-01 00:00:00')");
        while (pruning) {
            const auto start = std::chrono::steady_clock::now();
            db.exec("BEGIN IMMEDIATE");
            for (int i = 0; i < 20; ++i) {
                insert.reset();
                insert.step();
            }
            db.exec("COMMIT");
            passes.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });
    Database db(folder.databasePath());
    const PruneResult result = pruneHistoryBefore(db, "2026-01-01 00:00:00");
    pruning = false;
    logger.join();
    EXPECT_EQ(result.deleted, 40000);
    ASSERT_GE(passes.size(), 3u);
    // A generous bound for slow builds; bench/history_tool_bench measures the real stall.
    EXPECT_LT(*std::max_element(passes.begin(), passes.end()), 1000.0);
    Database check(folder.databasePath());
    EXPECT_EQ(ids(check).size(), passes.size() * 20);
}

} // namespace
} // namespace mirv
