// The pending rows file's bytes: what a crash leaves is read back line by line, and what is
// appended is quoted, on a line of its own, synced, and shared with the folder's group.
#include "forked_user.h"
#include "pending_rows.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace mirv {
namespace {

constexpr const char* kHeader = "MeterID,MinuteAverage,Foward,Reverse,TXTctemperature1,"
                                "TXTctemperature2,TXTreliang,TXTlengliang,TXTleijire_z,"
                                "TXTleijileng_z,Alarmstatus,CreateTime,Complete\n";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// MeterID, Foward and Alarmstatus of every row read back, and the cut lines.
std::pair<std::vector<std::string>, std::size_t> readBack(const std::string& bytes) {
    test::TempDir dir;
    const std::string path = (dir.path() / "mirv.mdb-pending.csv").string();
    std::ofstream(path, std::ios::binary) << bytes;
    std::vector<std::string> rows;
    const auto result = PendingRowsFile(path).read([&](const HistoryRecord& r) {
        rows.push_back(r.meterId + " " + r.forwardTotal + " " + r.alarmStatus);
        return true;
    });
    EXPECT_EQ(result.failure, std::nullopt);
    return {rows, result.cutLines};
}

TEST(PendingFile, OnlyTheLineACrashCutIsLost) {
    const std::string row1 = "1,0.0000,10.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,通讯正常,"
                             "2026-03-04 05:00:00,1";
    const std::string row3 = "3,0.0000,30.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,"
                             "\"通讯正常,励磁报警\",2026-03-04 05:01:00,1";
    const std::string cutInQuote = "2,0.0000,20.00,0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,\"通讯";
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> rows;
        std::size_t cut;
    } cases[] = {
        {"cut inside a quoted field, rows appended after it",
         kHeader + row1 + "\n" + cutInQuote + "\n" + row3 + "\n" + row1 + "\n",
         {"1 10.00 通讯正常", "3 30.00 通讯正常,励磁报警", "1 10.00 通讯正常"},
         1},
        {"cut inside a quoted field at the end",
         kHeader + row1 + "\n" + cutInQuote,
         {"1 10.00 通讯正常"},
         1},
        {"cut before the closing field",
         kHeader + row3.substr(0, row3.size() - 2) + "\n" + row1,
         {"1 10.00 通讯正常"},
         1},
        {"line ends CRLF",
         std::string(kHeader, std::strlen(kHeader) - 1) + "\r\n" + row3 + "\r\n" + row1 + "\r\n",
         {"3 30.00 通讯正常,励磁报警", "1 10.00 通讯正常"},
         0},
        {"a quote doubled",
         kHeader + std::string("5,0.0000,\"5\"\"0.00\",0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,"
                               "通讯正常,2026-03-04 05:01:00,1\n"),
         {"5 5\"0.00 通讯正常"},
         0},
        {"a quote not doubled",
         kHeader +
             std::string("5,0.0000,\"5\"0.00\",0.00,0.00,0.00,0.0000,0.0000,0.00,0.00,"
                         "通讯正常,2026-03-04 05:01:00,1\n") +
             row1,
         {"1 10.00 通讯正常"},
         1},
        {"the header cut", std::string(kHeader, 20), {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [rows, cut] = readBack(c.bytes);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(cut, c.cut);
    }
}

// An append after a cut line: a fresh line, quotes doubled, synced after it is written.
TEST(PendingFile, AppendStartsAFreshLineQuotesAndSyncs) {
    test::TempDir dir;
    const std::string path = (dir.path() / "mirv.mdb-pending.csv").string();
    const std::string before = std::string(kHeader) + "2,0.0000,20.00,\"通讯";
    std::ofstream(path, std::ios::binary) << before;
    PendingRowsFile file(path);
    std::vector<off_t> syncedAt; // the file's size at each sync
    file.sync = [&](int fd) {
        struct stat st {};
        ::fstat(fd, &st);
        syncedAt.push_back(st.st_size);
        return true;
    };
    HistoryRecord r{"7", "1.5", "70.00", "0.00", "通讯正常,\"A\"", "", "", "", "", "", "", "T"};
    ASSERT_EQ(file.append({r}), std::nullopt);
    const std::string added = "\n7,1.5,70.00,0.00,,,,,,,\"通讯正常,\"\"A\"\"\",T,1\n";
    EXPECT_EQ(slurp(path), before + added);
    EXPECT_EQ(syncedAt, std::vector<off_t>{static_cast<off_t>(before.size() + added.size())});
}

// Several operators share a group-writable folder: whatever their umask, the file one of them
// made is the next one's to append to.
TEST(PendingFile, MadeGroupWritableInAGroupWritableFolder) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.str().c_str(), 02775), 0);
    if (test::runningAsRoot()) {
        ASSERT_EQ(::chown(dir.str().c_str(), 0, test::kOperatorsGroup), 0);
    }
    const std::string path = (dir.path() / "mirv.mdb-pending.csv").string();
    const HistoryRecord r{"1", "0", "1", "0", "通讯正常", "", "", "", "", "", "", "T"};
    const auto append = [&] { return PendingRowsFile(path).append({r}) ? 1 : 0; };
    const test::ForkedUser first{
        test::kFirstOperator, test::kFirstOperator, {test::kOperatorsGroup}};
    const test::ForkedUser second{
        test::kSecondOperator, test::kSecondOperator, {test::kOperatorsGroup}};
    ASSERT_EQ(test::runInChild(022, first, append), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    EXPECT_EQ(test::runInChild(022, second, append), 0) << "the second operator appends too";
}

} // namespace
} // namespace mirv
