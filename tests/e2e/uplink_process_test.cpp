// The built mirv-uplink in program folders of its own, forwarding to a PostgreSQL server the
// test starts: whatever happens to the server, the uplink or the local file, every row that
// was ever local ends up central exactly once.
#include "create_database.h"
#include "purge.h"
#include "uplink_support.h"

namespace mirv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace e2e;

TEST(UplinkProcess, ForwardsABacklogWholeInOrderAndOnlyOnce) {
    test::PostgresServer pg;
    UplinkFolder station("hall 1", pg.conninfo());
    // Texts as they may stand in an older history: not numbers, blanks, escapes, and two rows
    // of meter 7 stamped with the same second after the clock was set back.
    station.folder.exec(
        "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, "
        "TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, "
        "CreateTime) VALUES "
        "('7', '', 'abc', ' 12.50 ', '-0.50', 'NaN', '1.5e3', '.25', '98765432109876.12', "
        "'0.00', 'tab\there\\', '2024-12-31 23:00:00'),"
        "('7', '1.0000', '2', '3', '4', '5', '6', '7', '8', '9', NULL, '2024-12-31 23:00:00'),"
        "('x', '1', '1', '1', '1', '1', '1', '1', '1', '1', '通讯正常', '2024-12-31 23:01:00'),"
        "('8', '1', '1', '1', '1', '1', '1', '1', '1', '1', '通讯正常', '2024-02-30 00:00:00')");
    station.appendRows(0, 23999);

    ASSERT_EQ(station.runOnce({"--batch-rows", "5000"}), 0);

    test::PgConnection c(pg.conninfo());
    EXPECT_EQ(c.value("SELECT count(*) FROM station_history"), "24002");
    const auto odd = c.rows("SELECT meter_id, time_repeat, flow_rate, forward_total, "
                            "reverse_total, inlet_temperature, outlet_temperature, heat_power, "
                            "cold_power, heat_total, alarm_status, local_id FROM station_history "
                            "WHERE create_time = '2024-12-31 23:00:00' ORDER BY time_repeat");
    ASSERT_EQ(odd.size(), 2u);
    EXPECT_EQ(odd[0],
              (std::vector<std::string>{"7", "0", "NULL", "NULL", "12.50", "-0.50", "NULL", "1500",
                                        "0.25", "98765432109876.12", "tab\there\\", "1"}));
    EXPECT_EQ(odd[1], (std::vector<std::string>{"7", "1", "1.0000", "2", "3", "4", "5", "6", "7",
                                                "8", "NULL", "2"}));
    EXPECT_EQ(station.linesContaining("2 local rows not forwarded, having no central form; "
                                      "first: ID 3: MeterID 'x' is not a meter number"),
              1);
    EXPECT_EQ(station.linesContaining("up to date: 24004 rows read, 24002 new on the server"), 1);

    // The batches were committed in ID order.
    EXPECT_EQ(c.value("SELECT count(*) FROM (SELECT received_at < lag(received_at) OVER "
                      "(ORDER BY local_id) AS earlier FROM station_history) s WHERE earlier"),
              "0");

    // The rest as they stand locally.
    station.folder.exec("DELETE FROM Historydata WHERE ID <= 4");
    c.rows("DELETE FROM station_history WHERE create_time < '2025-01-01'");
    expectCentralHoldsExactly(pg, "hall 1", station.localRows());

    // Run again: nothing new, nothing twice.
    ASSERT_EQ(station.runOnce(), 0);
    EXPECT_EQ(station.linesContaining("0 new on the server"), 1);
    EXPECT_EQ(c.value("SELECT count(*) FROM station_history"), "24000");
}

TEST(UplinkProcess, ServerKilledMidBatchThenRestarted) {
    test::PostgresServer pg;
    UplinkFolder station("hall 2", pg.conninfo());
    station.appendRows(0, 29999);
    test::ChildProcess uplink(station.command({"--interval", "0.2", "--batch-rows", "1500"}));

    const long long before = waitInsideABatch(pg, "hall 2");
    ASSERT_GT(before, 0);
    pg.kill();
    std::this_thread::sleep_for(3500ms); // the uplink retries twice meanwhile
    pg.start();
    ASSERT_LT(centralCount(pg, "hall 2"), 30000) << "the kill came too late";

    station.appendRows(30000, 30999);
    ASSERT_TRUE(waitForCentral(pg, "hall 2", 31000));
    expectCentralHoldsExactly(pg, "hall 2", station.localRows());
    EXPECT_EQ(station.linesContaining("server unreachable"), 1);
    EXPECT_EQ(station.linesContaining("forwarding station 'hall 2'"), 2);
    const int status = uplink.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(UplinkProcess, UplinkKilledMidBatchLeavesWholeBatches) {
    test::PostgresServer pg;
    UplinkFolder station("hall 3", pg.conninfo());
    station.appendRows(0, 29999);
    for (int kill = 0; kill < 2; ++kill) {
        test::ChildProcess uplink(station.command({"--batch-rows", "1500"}));
        const long long before = waitInsideABatch(pg, "hall 3");
        ASSERT_GT(before, 0);
        uplink.stop(SIGKILL);
        const long long after = centralCount(pg, "hall 3");
        EXPECT_LT(after, 30000) << "the kill came too late";
        EXPECT_EQ(after % 1500, 0) << "a batch was stored in part";
    }
    ASSERT_EQ(station.runOnce({"--batch-rows", "1500"}), 0);
    expectCentralHoldsExactly(pg, "hall 3", station.localRows());
}

TEST(UplinkProcess, TwoStationsForwardAtOnce) {
    test::PostgresServer pg;
    UplinkFolder east("east", pg.conninfo());
    UplinkFolder west("west", pg.conninfo());
    east.appendRows(0, 14999);
    west.appendRows(100000, 109999);
    // The same readings under both names too: the station tells them apart.
    west.appendRows(0, 999);
    test::ChildProcess a(east.command({"--once", "--batch-rows", "1000"}));
    test::ChildProcess b(west.command({"--once", "--batch-rows", "1000"}));
    EXPECT_EQ(a.waitForExit(120s), 0) << joined(east.errorLines());
    EXPECT_EQ(b.waitForExit(120s), 0) << joined(west.errorLines());
    expectCentralHoldsExactly(pg, "east", east.localRows());
    expectCentralHoldsExactly(pg, "west", west.localRows());
    test::PgConnection c(pg.conninfo());
    EXPECT_EQ(c.value("SELECT count(*) FROM station_history_migrations"), "6");
}

TEST(UplinkProcess, HistoryPurgedRestoredAndReplaced) {
    test::PostgresServer pg;
    UplinkFolder station("hall 4", pg.conninfo());
    const std::string live = station.folder.databasePath();
    const std::string backup = station.folder.path() + "/backup.mdb";
    std::set<std::string> everLocal;
    auto forwarded = [&](std::size_t rows) {
        insertAll(everLocal, station.localRows());
        return waitForCentral(pg, "hall 4", static_cast<long long>(rows));
    };

    auto uplink = std::make_unique<test::ChildProcess>(station.command({"--interval", "0.2"}));
    station.appendRows(0, 2999);
    ASSERT_TRUE(forwarded(3000));
    station.folder.exec("VACUUM INTO '" + backup + "'"); // IDs 1..3000
    station.appendRows(3000, 4999);
    ASSERT_TRUE(forwarded(5000));

    // Purged: IDs go on from 5001.
    ASSERT_FALSE(purgeHistory(live).failure);
    station.appendRows(5000, 5999);
    ASSERT_TRUE(forwarded(6000));
    expectCentralHoldsExactly(pg, "hall 4", everLocal);

    // Restored from the older backup while the uplink runs: IDs go on from 3001.
    copyDatabase(backup, live);
    station.appendRows(6000, 7499);
    ASSERT_TRUE(forwarded(7500));
    expectCentralHoldsExactly(pg, "hall 4", everLocal);

    // Restored again while the uplink is stopped, and more rows written than it had seen: the
    // row with its last ID is there again, but another one.
    uplink.reset();
    copyDatabase(backup, live);
    station.appendRows(7500, 12499); // IDs 3001..8000
    uplink = std::make_unique<test::ChildProcess>(station.command({"--interval", "0.2"}));
    ASSERT_TRUE(forwarded(12500));
    expectCentralHoldsExactly(pg, "hall 4", everLocal);

    // Replaced by a fresh file, IDs from 1 again, while the uplink runs.
    const std::string fresh = station.folder.path() + "/fresh.mdb";
    ASSERT_FALSE(createDatabase(fresh, test::schemaText()));
    copyDatabase(fresh, live);
    station.appendRows(12500, 13299);
    ASSERT_TRUE(forwarded(13300));
    expectCentralHoldsExactly(pg, "hall 4", everLocal);
    EXPECT_EQ(station.linesContaining("local history purged, restored or replaced"), 4);
}

TEST(UplinkProcess, SaysEachOutageOnceAndCatchesUp) {
    test::PostgresServer pg;
    UplinkFolder station("hall 5", pg.conninfo(), false);
    test::ChildProcess uplink(station.command({"--interval", "0.2"}));
    std::this_thread::sleep_for(3500ms); // two retries at least
    EXPECT_EQ(station.errorLines(),
              std::vector<std::string>{"mirv-uplink: local history missing: no file " +
                                       station.folder.databasePath() + "; retrying"});
    ASSERT_FALSE(createDatabase(station.folder.databasePath(), test::schemaText()));
    station.appendRows(0, 99);
    ASSERT_TRUE(waitForCentral(pg, "hall 5", 100));
    EXPECT_EQ(station.linesContaining("forwarding station 'hall 5'"), 1);
}

struct BadConfigCase {
    const char* name;
    std::function<void(UplinkFolder&, const test::PostgresServer&)> setUp;
    int exitCode;
    const char* message;
};

TEST(UplinkProcess, BadConfigurationEndsWithAClearMessage) {
    test::PostgresServer pg;
    auto conf = [](UplinkFolder& f, const std::string& text) {
        std::ofstream(f.folder.path() + "/uplink.conf") << text;
    };
    const BadConfigCase cases[] = {
        {"no file", [](UplinkFolder& f, auto&) { fs::remove(f.folder.path() + "/uplink.conf"); }, 2,
         "uplink.conf: No such file or directory"},
        {"no station name",
         [&](UplinkFolder& f, auto& s) { conf(f, "conninfo = " + s.conninfo() + "\n"); }, 2,
         "uplink.conf: no station name: add a line `station = NAME`"},
        {"unreachable server",
         [&](UplinkFolder& f, auto&) {
             conf(f, "station = A\nconninfo = host=127.0.0.1 port=1\n");
         },
         1, "server unreachable: connection to server at \"127.0.0.1\", port 1 failed"},
        {"unknown role",
         [&](UplinkFolder& f, auto& s) {
             conf(f, "station = A\nconninfo = " + s.conninfo() + " user=nobody\n");
         },
         1, "server refused the connection: "},
        {"password in the file",
         [&](UplinkFolder& f, auto& s) {
             conf(f, "station = A\nconninfo = " + s.conninfo() + " password=x\n");
         },
         2, "conninfo must not hold a password"},
    };
    for (const BadConfigCase& c : cases) {
        SCOPED_TRACE(c.name);
        UplinkFolder folder("A", pg.conninfo());
        c.setUp(folder, pg);
        folder.appendRows(0, 9);
        EXPECT_EQ(folder.runOnce(), c.exitCode);
        const auto lines = folder.errorLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines[0].find(c.message), std::string::npos) << lines[0];
    }
    EXPECT_EQ(centralCount(pg, "A"), 0);
}

} // namespace
} // namespace mirv
