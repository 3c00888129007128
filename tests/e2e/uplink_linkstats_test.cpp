// The station's Linkstats forwarded by the built mirv-uplink to station_linkstats on a
// PostgreSQL server the test starts: each row once, also one written late for an older hour,
// whatever stops a batch half way; each station role sees only its own.
#include "uplink_support.h"

namespace mirv {
namespace {

using namespace e2e;

constexpr const char* kInsertLinkstats =
    "INSERT INTO Linkstats (MeterID, Hour, Requests, Answers, Misses, CrcWrong, TooShort, "
    "TooLong, Trailing, WrongFunction, WrongAddress, ResponseMeanUs, ResponseMaxUs) VALUES ";

// Two hours of three meters, as the station writes them at 10:00 and 11:00.
constexpr const char* kTwoHours =
    "(1, '2025-03-01 09:00:00', 720, 720, 0, 0, 0, 0, 0, 0, 0, 98500, 131000), "
    "(2, '2025-03-01 09:00:00', 720, 690, 30, 0, 0, 0, 0, 0, 0, 101250, 150000), "
    "(3, '2025-03-01 09:00:00', 720, 600, 0, 90, 20, 5, 3, 1, 1, 99000, 140500), "
    "(1, '2025-03-01 10:00:00', 719, 719, 0, 0, 0, 0, 0, 0, 0, 98400, 129000), "
    "(2, '2025-03-01 10:00:00', 720, 0, 720, 0, 0, 0, 0, 0, 0, 0, 0), "
    "(3, '2025-03-01 10:00:00', 721, 700, 2, 19, 0, 0, 0, 0, 0, 97000, 2147483648)";

constexpr const char* kCentralLinkstats =
    "SELECT string_agg(concat_ws(' ', meter_id, hour, requests, answers, misses, crc_wrong, "
    "too_short, too_long, trailing_bytes, wrong_function, wrong_address, response_mean_us, "
    "response_max_us), ', ' ORDER BY hour, meter_id) FROM station_linkstats WHERE station = $1";

constexpr const char* kTwoHoursCentral =
    "1 2025-03-01 09:00:00 720 720 0 0 0 0 0 0 0 98500 131000, "
    "2 2025-03-01 09:00:00 720 690 30 0 0 0 0 0 0 101250 150000, "
    "3 2025-03-01 09:00:00 720 600 0 90 20 5 3 1 1 99000 140500, "
    "1 2025-03-01 10:00:00 719 719 0 0 0 0 0 0 0 98400 129000, "
    "2 2025-03-01 10:00:00 720 0 720 0 0 0 0 0 0 0 0, "
    "3 2025-03-01 10:00:00 721 700 2 19 0 0 0 0 0 97000 2147483648";

TEST(UplinkLinkstats, EachRowOnceALateOneTooAndEachStationSeesOnlyItsOwn) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east", "west"});
    UplinkFolder east("east", asRole(pg, "st_east"));
    UplinkFolder west("west", asRole(pg, "st_west"));
    east.folder.exec(std::string(kInsertLinkstats) + kTwoHours);
    east.appendRows(0, 39);
    west.folder.exec(std::string(kInsertLinkstats) +
                     "(7, '2025-03-01 09:00:00', 10, 9, 1, 0, 0, 0, 0, 0, 0, 50000, 60000)");
    ASSERT_EQ(east.runOnce({"--batch-rows", "4"}), 0) << joined(east.errorLines());
    ASSERT_EQ(west.runOnce(), 0) << joined(west.errorLines());
    test::PgConnection admin(pg.conninfo());
    EXPECT_EQ(admin.value(kCentralLinkstats, {"east"}), kTwoHoursCentral);
    EXPECT_EQ(east.linesContaining(
                  "up to date: 40 rows read, 40 new on the server; 6 Linkstats rows read, 6 new"),
              1);
    expectCentralHoldsExactly(pg, "east", east.localRows());

    // Run again: nothing.
    ASSERT_EQ(east.runOnce(), 0);
    EXPECT_EQ(east.linesContaining("0 new on the server; 0 Linkstats rows read, 0 new"), 1);

    // The station's retry queue writes meter 4's row of the older hour late, beside a new hour.
    east.folder.exec(std::string(kInsertLinkstats) +
                     "(1, '2025-03-01 11:00:00', 720, 720, 0, 0, 0, 0, 0, 0, 0, 98000, 120000), "
                     "(4, '2025-03-01 09:00:00', 30, 30, 0, 0, 0, 0, 0, 0, 0, 45000, 47000)");
    ASSERT_EQ(east.runOnce(), 0);
    EXPECT_EQ(east.linesContaining("2 Linkstats rows read, 2 new"), 1);
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_linkstats WHERE station = 'east'"), "8");
    EXPECT_EQ(admin.value("SELECT requests FROM station_linkstats WHERE station = 'east' AND "
                          "meter_id = 4 AND hour = '2025-03-01 09:00:00'"),
              "30");

    // East's role, on west's rows and on its own.
    const std::string before =
        admin.value("SELECT string_agg(l::text, ',' ORDER BY station, hour, meter_id) FROM "
                    "station_linkstats l") +
        joined(admin.rows("SELECT station, last_linkstats_id, last_linkstats_hash FROM "
                          "station_uplink_progress ORDER BY station")[1]);
    test::PgConnection hostile(asRole(pg, "st_east"));
    EXPECT_EQ(hostile.value("SELECT count(*) FROM station_linkstats WHERE station = 'west'"), "0");
    const char* refused[] = {
        "INSERT INTO station_linkstats (station, meter_id, hour) VALUES ('west', 1, "
        "'2025-03-01 12:00:00')",
        "UPDATE station_linkstats SET requests = 0",
        "DELETE FROM station_linkstats",
        "TRUNCATE station_linkstats",
    };
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(hostile.tryExec(sql), "");
    }
    hostile.exec("UPDATE station_uplink_progress SET last_linkstats_id = 0 WHERE station = 'west'");
    EXPECT_EQ(admin.value("SELECT string_agg(l::text, ',' ORDER BY station, hour, meter_id) FROM "
                          "station_linkstats l") +
                  joined(admin.rows("SELECT station, last_linkstats_id, last_linkstats_hash FROM "
                                    "station_uplink_progress ORDER BY station")[1]),
              before);
    admin.exec("CREATE ROLE billing LOGIN IN ROLE mirv_reader");
    EXPECT_EQ(test::PgConnection(asRole(pg, "billing"))
                  .value("SELECT string_agg(station || '=' || n, ' ' ORDER BY station) FROM "
                         "(SELECT station, count(*) n FROM station_linkstats GROUP BY station) s"),
              "east=8 west=1");
}

TEST(UplinkLinkstats, AnUplinkKilledMidBatchLeavesNoRowOutAndNoneTwice) {
    test::PostgresServer pg;
    UplinkFolder station("pump room", pg.conninfo());
    station.folder.exec(std::string(kInsertLinkstats) + kTwoHours);
    UplinkFolder owner("unused", pg.conninfo(), false);
    ASSERT_EQ(runUplink(owner, {"--migrate"}), 0) << joined(owner.errorLines());
    // While the switch is on, the server stalls in the batch's second row, meter 3 at 10:00
    // (the first, meter 2, is in by then).
    test::PgConnection admin(pg.conninfo());
    admin.exec(
        "CREATE FUNCTION stall() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF current_setting('fault.stall', true) = 'on' AND NEW.meter_id = 3 AND "
        "NEW.hour = '2025-03-01 10:00:00' THEN PERFORM pg_sleep(600); END IF; RETURN NEW; END $$; "
        "CREATE TRIGGER stall BEFORE INSERT ON station_linkstats FOR EACH ROW "
        "EXECUTE FUNCTION stall(); ALTER DATABASE postgres SET fault.stall = 'on'");

    test::ChildProcess uplink(station.command({"--batch-rows", "4"}));
    const auto end = Clock::now() + 60s;
    while (admin.value("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                       "'mirv-uplink' AND wait_event = 'PgSleep'") != "1" &&
           Clock::now() < end)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(admin.value("SELECT count(*) FROM station_linkstats"), "4");
    // The PC loses power: its session stays on the server, inside the batch.
    uplink.stop(SIGKILL);
    admin.exec("ALTER DATABASE postgres RESET fault.stall");

    ASSERT_EQ(station.runOnce(), 0) << joined(station.errorLines());
    EXPECT_EQ(station.linesContaining("ended the server session"), 1);
    EXPECT_EQ(station.linesContaining("2 Linkstats rows read, 2 new"), 1);
    EXPECT_EQ(admin.value(kCentralLinkstats, {"pump room"}), kTwoHoursCentral);

    // A fresh file: read again from its first row, only its new row added.
    station.folder.exec("DELETE FROM Linkstats");
    station.folder.exec(std::string(kInsertLinkstats) +
                        "(1, '2025-03-01 10:00:00', 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1), "
                        "(1, '2025-03-01 11:00:00', 5, 5, 0, 0, 0, 0, 0, 0, 0, 2, 3)");
    ASSERT_EQ(station.runOnce(), 0);
    EXPECT_EQ(station.linesContaining("local Linkstats purged, restored or replaced"), 1);
    EXPECT_EQ(station.linesContaining("1 Linkstats rows not stored: the server holds other counts"),
              1);
    EXPECT_EQ(station.linesContaining("2 Linkstats rows read, 1 new"), 1);
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_linkstats"), "7");
}

} // namespace
} // namespace mirv
