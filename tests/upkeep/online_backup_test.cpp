#include "database.h"
#include "online_backup.h"
#include "program_folder.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace mirv {
namespace {

namespace fs = std::filesystem;

std::string rowsText(Database& db, std::int64_t upToId) {
    Statement rows(db, "SELECT group_concat(ID || '|' || MeterID || '|' || CreateTime, ';') "
                       "FROM (SELECT * FROM Historydata WHERE ID <= ?1 ORDER BY ID)");
    rows.bind(1, upToId);
    return rows.step() ? rows.text(0) : "?";
}

std::int64_t single(Database& db, const char* sql) {
    Statement q(db, sql);
    return q.step() ? q.integer(0) : -1;
}

// A history of 3,000 rows.
struct BackupFolder : testing::Test {
    void SetUp() override {
        std::string sql = "BEGIN;";
        for (int i = 0; i < 3000; ++i)
            sql += "INSERT INTO Historydata (MeterID, CreateTime) VALUES ('" +
                   std::to_string(i % 20 + 1) +
                   "', '2026-01-01 00:00:" + std::to_string(10 + i % 50) + "');";
        folder.exec(sql + "COMMIT;");
    }
    std::string target() const { return folder.path() + "/backup.mdb"; }
    test::ProgramFolder folder;
};

TEST_F(BackupFolder, CopyWhileAnotherConnectionInsertsHoldsEveryEarlierRow) {
    std::atomic<bool> stop{false};
    std::atomic<int> inserted{0};
    std::thread writer([&] {
        Database db(folder.databasePath(), 5000);
        while (!stop) {
            db.exec("INSERT INTO Historydata (MeterID, CreateTime) "
                    "VALUES ('99', '2026-02-02 00:00:00')");
            ++inserted;
        }
    });
    Database source(folder.databasePath());
    const std::int64_t committedBefore = single(source, "SELECT max(ID) FROM Historydata");
    BackupOptions options;
    options.pagesPerStep = 4;
    int steps = 0;
    options.progress = [&](int, int) {
        // Rows go in while the copy is being taken.
        const int target = inserted + 10;
        for (int i = 0; i < 1000 && inserted < target; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++steps;
        return true;
    };
    const BackupResult result =
        backupDatabase(source, folder.databasePath(), target(), 2000, options);
    stop = true;
    writer.join();
    ASSERT_FALSE(result.failure) << result.failure->message;
    EXPECT_GT(steps, 10);
    EXPECT_GT(inserted, 100);

    Database copy(target());
    Statement check(copy, "PRAGMA integrity_check");
    ASSERT_TRUE(check.step());
    EXPECT_EQ(check.text(0), "ok");
    // One moment's database: the rows committed before, and a gapless run of later ones.
    const std::int64_t copied = single(copy, "SELECT max(ID) FROM Historydata");
    EXPECT_GE(copied, committedBefore);
    EXPECT_EQ(single(copy, "SELECT count(*) FROM Historydata"), copied);
    EXPECT_EQ(rowsText(copy, copied), rowsText(source, copied));
    EXPECT_EQ(single(copy, "SELECT count(*) FROM mirve"), 1);
}

TEST_F(BackupFolder, StoppedBackupLeavesTheOldFileAndNoTrace) {
    std::ofstream(target()) << "last week's";
    BackupOptions options;
    options.pagesPerStep = 4;
    options.progress = [](int copied, int) { return copied < 20; };
    Database source(folder.databasePath());
    const BackupResult result =
        backupDatabase(source, folder.databasePath(), target(), 2000, options);
    EXPECT_TRUE(result.stopped);
    std::ifstream in(target());
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "last week's");
    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("backup.mdb."))
            << entry.path(); // no partial copy, no journal
}

} // namespace
} // namespace mirv
