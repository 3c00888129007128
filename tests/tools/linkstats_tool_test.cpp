// Linkstats over two hours of a simulated clock: the station's tallies written on the hour by
// the history writer, and what mirv-history linkstats makes of them.
#include "create_database.h"
#include "database.h"
#include "history_writer.h"
#include "linkstats_logger.h"
#include "program_folder.h"
#include "read_answer.h"
#include "run_program.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

// A request to `meter` at `atMs`, answered `afterMs` later (or with a wrong CRC, or not).
enum class Reply { Answer, BadCrc, None };
void poll(LineStats& stats, int meter, std::int64_t atMs, Reply reply, std::int64_t afterMs = 0) {
    const auto address = static_cast<std::uint8_t>(meter);
    stats.requestSent(address, makeReadRequest(address), atMs * 1000);
    if (reply == Reply::None)
        return;
    ReadAnswer answer = buildAnswer(address, {});
    if (reply == Reply::BadCrc)
        answer.back() ^= 0x5A;
    const std::int64_t inUs = (atMs + afterMs) * 1000;
    stats.bytesReceived(answer, inUs);
    stats.answerTaken(address, reply == Reply::Answer, inUs);
}

TEST(Linkstats, TwoHoursOnTheSimulatedClockAndTheToolsBytes) {
    test::ProgramFolder folder;
    // An older database without the table gets it from the upgrade, as at start-up.
    folder.exec("DROP TABLE Linkstats");
    ASSERT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);

    LineStats stats; // no wire time: the response times are exactly the ones given
    HistoryWriter writer(folder.databasePath());
    LinkstatsLogger logger(stats, writer);
    logger.check("2025-05-01 09:00:00");
    poll(stats, 1, 0, Reply::Answer, 190);
    poll(stats, 2, 1000, Reply::BadCrc, 150);
    poll(stats, 1, 2000, Reply::Answer, 210);
    poll(stats, 2, 3000, Reply::None);
    poll(stats, 1, 4000, Reply::None);
    poll(stats, 2, 5000, Reply::Answer, 120);
    logger.check("2025-05-01 09:59:59"); // the same hour: nothing yet
    logger.check("2025-05-01 10:00:00");
    poll(stats, 1, 3'600'000, Reply::Answer, 100);
    stats.reset(); // 清零 in the middle of the hour takes nothing from the hour
    poll(stats, 1, 3'700'000, Reply::Answer, 300);
    poll(stats, 3, 3'701'000, Reply::None);
    logger.check("2025-05-01 11:00:02");
    ASSERT_TRUE(writer.flush(std::chrono::seconds(10)));

    const std::string bom = "\xEF\xBB\xBF";
    const std::string captions = "仪表,小时,请求,应答,未应答,CRC错误,过短,过长,多余字节,"
                                 "功能码错误,地址错误,平均响应ms,最长响应ms\r\n";
    // A miss counts when the slot ends, with the next request: meter 3's last poll, still
    // waiting at 11:00, is not counted missed yet. It never answered: no response times.
    const std::string nine = "1,2025-05-01 09:00:00,3,2,1,0,0,0,0,0,0,200.0,210.0\r\n"
                             "2,2025-05-01 09:00:00,3,1,2,1,0,0,0,0,0,120.0,120.0\r\n";
    const std::string ten = "1,2025-05-01 10:00:00,2,2,0,0,0,0,0,0,0,200.0,300.0\r\n"
                            "3,2025-05-01 10:00:00,1,0,0,0,0,0,0,0,0,,\r\n";
    const std::string tenOfOne = "1,2025-05-01 10:00:00,2,2,0,0,0,0,0,0,0,200.0,300.0\r\n";
    auto tool = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {MIRV_HISTORY_TOOL, "--db", folder.databasePath(), "linkstats"});
        return test::runProgram(args);
    };
    const auto all = tool({"--from", "2025-05-01", "--to", "2025-05-01 12:00"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, bom + captions + nine + ten);
    const auto one = tool({"--from", "2025-05-01 10:00", "--to", "2025-05-02", "--meter", "1"});
    EXPECT_EQ(one.out, bom + captions + tenOfOne);
    Database db(folder.databasePath());
    Statement silent(db, "SELECT MeterID FROM Linkstats WHERE ResponseMeanUs IS NULL AND "
                         "ResponseMaxUs IS NULL");
    ASSERT_TRUE(silent.step());
    EXPECT_EQ(silent.integer(0), 3);
    EXPECT_FALSE(silent.step());
    const auto wrong = tool({"--from", "2025-05-01", "--to", "2025-05-02", "--meter", "x"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "");
}

} // namespace
} // namespace mirv
