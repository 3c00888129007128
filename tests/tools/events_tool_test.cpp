// What mirv-history events makes of a journal written here by hand.
#include "program_folder.h"
#include "run_program.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

TEST(EventsTool, TheJournalBetweenTwoTimesInWritingOrder) {
    test::ProgramFolder folder;
    // The table as the station makes it; the third row was written after the clock went back.
    folder.exec(
        "CREATE TABLE Events (ID INTEGER PRIMARY KEY AUTOINCREMENT, CreateTime TEXT NOT NULL, "
        "UtcTime TEXT NOT NULL, MeterID INTEGER NOT NULL, Kind TEXT NOT NULL, Phase TEXT NOT "
        "NULL, Text TEXT NOT NULL, Detail TEXT NOT NULL, User TEXT NOT NULL);"
        "INSERT INTO Events (CreateTime, UtcTime, MeterID, Kind, Phase, Text, Detail, User) "
        "VALUES ('2026-05-06 08:00:00', '2026-05-06T00:00:00Z', 0, 'station', 'begin', "
        "'系统启动', '', ''),"
        "('2026-05-06 08:03:00', '2026-05-06T00:03:00Z', 2, 'silent', 'begin', "
        "'仪表2通讯中断', '', ''),"
        "('2026-05-06 08:01:00', '2026-05-06T00:04:00Z', 2, 'silent', 'ack', "
        "'仪表2通讯中断已确认', '', 'shift, \"a\"'),"
        "('2026-05-07 09:00:00', '2026-05-07T01:00:00Z', 0, 'purge', 'note', "
        "'历史数据已全部删除', '12行', 'root')");
    auto tool = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {MIRV_HISTORY_TOOL, "--db", folder.databasePath(), "events"});
        return test::runProgram(args);
    };
    const std::string head = "\xEF\xBB\xBF时间,UTC时间,仪表,类别,阶段,事件,说明,操作人\r\n";
    const std::string start =
        "2026-05-06 08:00:00,2026-05-06T00:00:00Z,,station,begin,系统启动,,\r\n";
    const std::string silent =
        "2026-05-06 08:03:00,2026-05-06T00:03:00Z,2,silent,begin,仪表2通讯中断,,\r\n"
        "2026-05-06 08:01:00,2026-05-06T00:04:00Z,2,silent,ack,仪表2通讯中断已确认,,"
        "\"shift, \"\"a\"\"\"\r\n";
    const auto day = tool({"--from", "2026-05-06", "--to", "2026-05-07"});
    EXPECT_EQ(day.status, 0) << day.err;
    EXPECT_EQ(day.out, head + start + silent);
    const auto meter = tool({"--from", "2026-05-06", "--to", "2026-05-08", "--meter", "2"});
    EXPECT_EQ(meter.out, head + silent);
}

} // namespace
} // namespace mirv
