// The central side of the built mirv-uplink against a PostgreSQL server the test starts: the
// roles of the shipped script, each station confined to its own rows; readings that collide
// with what the server holds; the station's identity, zone and UTC instants; the upgrade of a
// database of the first schema; and network faults made by a relay of the test's own.
#include "tcp_relay.h"
#include "uplink.h"
#include "uplink_support.h"

#include <cstdio>
#include <mutex>
#include <thread>

namespace mirv {
namespace {

using namespace e2e;

TEST(UplinkCentral, EachStationRoleIsConfinedToItsOwnRows) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east", "west"});
    UplinkFolder east("east", asRole(pg, "st_east"));
    UplinkFolder west("west", asRole(pg, "st_west"));
    east.appendRows(0, 4999);
    west.appendRows(0, 2999);
    test::ChildProcess a(east.command({"--once", "--batch-rows", "1000"}));
    test::ChildProcess b(west.command({"--once", "--batch-rows", "1000"}));
    EXPECT_EQ(a.waitForExit(120s), 0) << joined(east.errorLines());
    EXPECT_EQ(b.waitForExit(120s), 0) << joined(west.errorLines());
    expectCentralHoldsExactly(pg, "east", east.localRows());
    expectCentralHoldsExactly(pg, "west", west.localRows());

    test::PgConnection admin(pg.conninfo());
    // Each reading's instant, as its station's zone reads its local time.
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_history h JOIN stations s ON "
                          "s.name = h.station WHERE h.create_instant IS DISTINCT FROM "
                          "h.create_time AT TIME ZONE s.zone"),
              "0");
    const auto snapshot = [&] {
        return joined(admin.rows("SELECT station, count(*), sum(flow_rate) FROM station_history "
                                 "GROUP BY station ORDER BY station")[0]) +
               joined(admin.rows("SELECT station, last_local_id, last_row_hash FROM "
                                 "station_uplink_progress ORDER BY station")[1]) +
               joined(admin.rows("SELECT name, identity, rows_forwarded FROM stations "
                                 "ORDER BY name")[1]) +
               admin.value("SELECT count(*) FROM station_conflicts") +
               admin.value("SELECT count(*) FROM station_roles");
    };
    const std::string before = snapshot();

    // East's role trying what only its own uplink, or nobody, may do.
    test::PgConnection hostile(asRole(pg, "st_east"));
    const char* refused[] = {
        "INSERT INTO station_history (station, local_id, meter_id, create_time) "
        "VALUES ('west', 1, 1, '2025-01-01 00:00:00')",
        "UPDATE station_history SET flow_rate = 0 WHERE station = 'east'",
        "DELETE FROM station_history WHERE station = 'east'",
        "TRUNCATE station_history",
        "DROP TABLE station_history",
        "ALTER TABLE station_history DISABLE ROW LEVEL SECURITY",
        "INSERT INTO station_uplink_progress (station, last_local_id, last_row_hash) "
        "VALUES ('north', 1, 1)",
        "DELETE FROM station_uplink_progress",
        "INSERT INTO stations (name) VALUES ('north')",
        "INSERT INTO station_conflicts (station, meter_id, create_time, time_repeat, held, "
        "offered) VALUES ('west', 1, '2025-01-01', 0, '{}', '{}')",
        "INSERT INTO station_roles VALUES ('st_east', 'north')",
        "UPDATE station_roles SET station = 'west'",
        "INSERT INTO station_history_migrations VALUES (99, 'x')",
        "SELECT mirv_add_station('north', 'st_north')",
        "CREATE TABLE station_history_copy (x int)",
        "SET ROLE st_west",
    };
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(hostile.tryExec(sql), "");
    }
    // What row-level security filters out silently: nothing of west's is seen or moved.
    EXPECT_EQ(hostile.value("SELECT count(*) FROM station_history WHERE station = 'west'"), "0");
    EXPECT_EQ(hostile.value("SELECT count(*) FROM stations WHERE name = 'west'"), "0");
    hostile.exec("UPDATE station_uplink_progress SET last_local_id = 0 WHERE station = 'west'");
    hostile.exec("UPDATE stations SET identity = NULL WHERE name = 'west'");
    EXPECT_EQ(snapshot(), before);

    // The reader sees every station and changes nothing.
    admin.exec("CREATE ROLE billing LOGIN IN ROLE mirv_reader");
    test::PgConnection billing(asRole(pg, "billing"));
    EXPECT_EQ(billing.value("SELECT count(*) FROM station_history"), "8000");
    EXPECT_EQ(billing.value("SELECT string_agg(name || '=' || rows_forwarded, ' ' ORDER BY "
                            "name) FROM stations"),
              "east=5000 west=3000");
    EXPECT_NE(billing.tryExec("DELETE FROM station_history"), "");
    EXPECT_NE(billing.tryExec("INSERT INTO stations (name) VALUES ('x')"), "");
    EXPECT_EQ(snapshot(), before);
}

TEST(UplinkCentral, ReadingsCollidingWithTheServersAreKeptAndSaidOncePerBatch) {
    test::PostgresServer pg;
    setUpRoles(pg, {"hall"});
    UplinkFolder station("hall", asRole(pg, "st_hall"));
    station.appendRows(0, 99); // meters 1..20, minutes 0..4 of 2025-01-01
    ASSERT_EQ(station.runOnce(), 0);

    // A fresh file whose first rows take keys the server holds: two with other readings, one
    // the same reading with its meter written 05, one with its date written with slashes,
    // one unchanged; then new rows.
    station.folder.exec("DELETE FROM Historydata");
    station.folder.exec(
        "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, "
        "TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, "
        "CreateTime) VALUES "
        "('1', '99.0000', '1000.00', '0.00', '55.00', '47.25', '0.0000', '0.0000', '20000.00', "
        "'0.00', '通讯正常', '2025-01-01 00:00:00'), "
        "('2', '10.0137', '1000.25', '0.00', '55.50', '47.25', '1.5000', '0.0000', '20000.50', "
        "'0.00', '通讯异常', '2025-01-01 00:00:00'), "
        "('04', '10.0411', '1000.75', '0.00', '55.75', '47.25', '4.5000', '0.0000', "
        "'20001.50', '0.00', '通讯正常', '2025-01-01 00:00:00'), "
        "('5', '10.0548', '1001.00', '0.00', '56.00', '47.25', '6.0000', '0.0000', '20002.00', "
        "'0.00', '通讯正常', '2025/01/01 00:00:00'), "
        "('6', '10.0685', '1001.25', '0.00', '56.25', '47.25', '7.5000', '0.0000', '20002.50', "
        "'0.00', '通讯正常', '2025-01-01 00:00:00')");
    station.appendRows(1000, 1019); // minute 50
    ASSERT_EQ(station.runOnce(), 0) << joined(station.errorLines());

    test::PgConnection admin(pg.conninfo());
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_history"), "120");
    EXPECT_EQ(admin.value("SELECT string_agg(meter_id || ':' || (offered->>'flow_rate') || ':' || "
                          "coalesce(offered->>'source_key', '-') || ':' || (held->>'flow_rate'), "
                          "' ' ORDER BY meter_id) FROM station_conflicts WHERE station = 'hall'"),
              "1:99.0000:-:10.0000 2:10.0137:-:10.0137 4:10.0411:MeterID '04', CreateTime "
              "'2025-01-01 00:00:00':10.0411 5:10.0548:MeterID '5', CreateTime "
              "'2025/01/01 00:00:00':10.0548");
    EXPECT_EQ(station.linesContaining("4 readings not stored: the server holds other values"), 1);

    // Sent again after another restore: kept once, said no more.
    test::PgConnection(asRole(pg, "st_hall"))
        .exec("UPDATE station_uplink_progress SET last_local_id = 0, last_row_hash = 0");
    ASSERT_EQ(station.runOnce(), 0);
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_conflicts"), "4");
    EXPECT_EQ(station.linesContaining("readings not stored"), 1);
}

TEST(UplinkCentral, AStationNameTakenByAnotherPcIsRefused) {
    test::PostgresServer pg;
    UplinkFolder first("twin", pg.conninfo());
    UplinkFolder second("twin", pg.conninfo());
    first.appendRows(0, 99);
    second.appendRows(0, 199);
    ASSERT_EQ(first.runOnce(), 0);
    const std::string identity = fileText((first.folder.path() + "/uplink.id").c_str());
    ASSERT_EQ(identity.size(), 33u);
    for (const bool once : {true, false}) {
        EXPECT_EQ(runUplink(second,
                            once ? std::vector<std::string>{"--once"} : std::vector<std::string>{}),
                  2);
    }
    EXPECT_EQ(second.linesContaining("station 'twin' is forwarded from another PC (identity " +
                                     identity.substr(0, 32)),
              2);
    EXPECT_EQ(centralCount(pg, "twin"), 100);
    // The first goes on as before.
    first.appendRows(100, 149);
    ASSERT_EQ(first.runOnce(), 0);
    EXPECT_EQ(centralCount(pg, "twin"), 150);
}

TEST(UplinkCentral, StoresTheZoneAndTheUtcInstantOfEachReading) {
    test::PostgresServer pg;
    UplinkFolder station("berlin", pg.conninfo(), true, "zone = Europe/Berlin\n");
    // The autumn hour comes twice: meter 1 logs 02:30 in summer time, then again in winter time.
    station.folder.exec("INSERT INTO Historydata (MeterID, CreateTime) VALUES "
                        "('1', '2025-07-01 12:00:00'), ('1', '2025-10-26 02:30:00'), "
                        "('1', '2025-10-26 02:30:00'), ('1', '2025-10-26 03:30:00'), "
                        "('2', '2025-03-30 02:30:00'), ('2', '2025-12-31 23:59:59')");
    ASSERT_EQ(station.runOnce(), 0) << joined(station.errorLines());
    test::PgConnection c(pg.conninfo());
    c.exec("SET TIME ZONE 'UTC'");
    EXPECT_EQ(joined(c.rows("SELECT string_agg(meter_id || ' ' || create_time || ' ' || "
                            "time_repeat || ' ' || create_instant, ', ' ORDER BY local_id) "
                            "FROM station_history")[0]),
              "1 2025-07-01 12:00:00 0 2025-07-01 10:00:00+00, "
              "1 2025-10-26 02:30:00 0 2025-10-26 00:30:00+00, "
              "1 2025-10-26 02:30:00 1 2025-10-26 01:30:00+00, "
              "1 2025-10-26 03:30:00 0 2025-10-26 02:30:00+00, "
              "2 2025-03-30 02:30:00 0 2025-03-30 01:30:00+00, "
              "2 2025-12-31 23:59:59 0 2025-12-31 22:59:59+00");
    EXPECT_EQ(joined(c.rows("SELECT zone, rows_forwarded, length(identity), "
                            "first_seen <= last_seen FROM stations WHERE name = 'berlin'")[0]),
              "Europe/Berlin|6|32|t");

    UplinkFolder badZone("x", pg.conninfo(), true, "zone = Mars/Olympus\n");
    EXPECT_EQ(badZone.runOnce(), 2);
    EXPECT_EQ(badZone.linesContaining("zone 'Mars/Olympus' is not in the tz database"), 1);
}

TEST(UplinkCentral, ADatabaseOfTheFirstSchemaIsUpgradedInPlace) {
    test::PostgresServer pg;
    test::PgConnection(pg.conninfo()).exec(fileText(MIRV_CENTRAL_V1_DUMP));
    test::PgConnection admin(pg.conninfo());
    const std::string rowsBefore =
        admin.value("SELECT md5(string_agg(h::text, ',' ORDER BY station, local_id)) FROM "
                    "(SELECT station, local_id, meter_id, flow_rate, forward_total, "
                    "reverse_total, inlet_temperature, outlet_temperature, heat_power, "
                    "cold_power, heat_total, cold_total, alarm_status, create_time, "
                    "time_repeat, received_at FROM station_history) h");
    setUpRoles(pg, {"line-2"});
    admin.rows("SELECT mirv_add_station('hall 1', 'st_hall')");

    EXPECT_EQ(admin.value("SELECT string_agg(version::text, ',' ORDER BY version) FROM "
                          "station_history_migrations"),
              "1,2,3,4,5,6");
    EXPECT_EQ(admin.value("SELECT md5(string_agg(h::text, ',' ORDER BY station, local_id)) FROM "
                          "(SELECT station, local_id, meter_id, flow_rate, forward_total, "
                          "reverse_total, inlet_temperature, outlet_temperature, heat_power, "
                          "cold_power, heat_total, cold_total, alarm_status, create_time, "
                          "time_repeat, received_at FROM station_history) h"),
              rowsBefore);
    EXPECT_EQ(admin.value("SELECT string_agg(name || '=' || rows_forwarded, ' ' ORDER BY name) "
                          "FROM stations"),
              "hall 1=60 line-2=60");
    EXPECT_EQ(admin.value("SELECT tableowner FROM pg_tables WHERE tablename = 'station_history'"),
              "mirv_owner");

    // The station goes on under its own role where its mark stands: the same 60 rows, then 15.
    UplinkFolder station("hall 1", asRole(pg, "st_hall"));
    station.folder.exec(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 74) "
        "INSERT INTO Historydata (MeterID, MinuteAverage, Foward, Reverse, TXTctemperature1, "
        "TXTctemperature2, TXTreliang, TXTlengliang, TXTleijire_z, TXTleijileng_z, Alarmstatus, "
        "CreateTime) SELECT i % 3 + 1, printf('%.4f', (i % 97) * 0.0137 + 10), "
        "printf('%.2f', 1000 + i * 0.25), '0.00', '55.25', '47.25', "
        "printf('%.4f', (i % 89) * 1.5), '0.0000', printf('%.2f', 20000 + i * 0.5), '0.00', "
        "'通讯正常', strftime('%Y-%m-%d %H:%M:%S', '2025-10-26 00:00:00', "
        "'+' || (i / 3 * 10) || ' minutes') FROM n");
    ASSERT_EQ(station.runOnce(), 0) << joined(station.errorLines());
    EXPECT_EQ(station.linesContaining("up to date: 15 rows read, 15 new on the server"), 1);
    EXPECT_EQ(centralCount(pg, "hall 1"), 75);
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_conflicts"), "0");
    EXPECT_EQ(admin.value("SELECT rows_forwarded FROM stations WHERE name = 'hall 1'"), "75");
}

TEST(UplinkCentral, ASchemaBehindTellsTheStationRoleWhoMayUpgradeIt) {
    test::PostgresServer pg;
    test::PgConnection(pg.conninfo()).exec(fileText(MIRV_CENTRAL_V1_DUMP));
    test::PgConnection admin(pg.conninfo());
    admin.exec(fileText(MIRV_CENTRAL_ROLES));
    admin.exec("CREATE ROLE st_plain LOGIN IN ROLE mirv_station");
    UplinkFolder station("line-2", asRole(pg, "st_plain"));
    station.appendRows(0, 9);
    EXPECT_EQ(station.runOnce(), 1);
    EXPECT_EQ(station.linesContaining("this role may not change it"), 1);
    EXPECT_EQ(station.linesContaining("run `mirv-uplink --migrate` as the schema's owner"), 1);
}

TEST(UplinkCentral, AnIdleUplinkStillTellsTheServerItIsAlive) {
    test::PostgresServer pg;
    test::ProgramFolder folder;
    UplinkOptions options;
    options.interval = 100ms;
    options.heartbeat = 300ms;
    std::mutex mutex;
    std::vector<std::string> lines;
    Uplink uplink({"quiet", pg.conninfo(), "UTC"}, std::string(32, 'a'), folder.databasePath(),
                  options, [&](const std::string& line) {
                      std::lock_guard lock(mutex);
                      lines.push_back(line);
                  });
    std::atomic<bool> stop{false};
    std::thread running([&] { uplink.run(stop); });
    test::PgConnection c(pg.conninfo());
    const auto lastSeen = [&]() -> std::string {
        try {
            return c.value("SELECT last_seen::text FROM stations WHERE name = 'quiet'");
        } catch (const std::exception&) {
            return ""; // not made yet
        }
    };
    const auto end = Clock::now() + 60s;
    while (lastSeen().empty() && Clock::now() < end)
        std::this_thread::sleep_for(50ms);
    const std::string first = lastSeen();
    std::this_thread::sleep_for(1500ms);
    const std::string later = lastSeen();
    stop = true;
    running.join();
    ASSERT_FALSE(first.empty());
    EXPECT_GT(later, first);
    // "forwarding station …" and the station's one meter written, each said once.
    EXPECT_EQ(lines.size(), 2u) << joined(lines);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(UplinkFaults, BackWithinAMinuteAfterAPowerCut) {
    test::PostgresServer pg;
    test::TcpRelay relay(pg.port());
    UplinkFolder station("plant room", relay.conninfo());
    station.appendRows(0, 29999);
    auto uplink = std::make_unique<test::ChildProcess>(station.command({"--batch-rows", "1500"}));
    ASSERT_GT(waitInsideABatch(pg, "plant room"), 0);
    // The PC loses power mid-batch: its session stays on the server, nobody tells it.
    relay.freeze();
    uplink->stop(SIGKILL);
    const auto restarted = Clock::now();
    uplink = std::make_unique<test::ChildProcess>(station.command({"--batch-rows", "1500"}));
    ASSERT_TRUE(waitForCentral(pg, "plant room", 30000, 120s));
    const double seconds = secondsSince(restarted);
    std::printf("power cut: forwarding again and through in %.1f s\n", seconds);
    EXPECT_LT(seconds, 60);
    expectCentralHoldsExactly(pg, "plant room", station.localRows());
    // The batch under way may still commit between the look inside it and the freeze: then no
    // session is left behind to end.
    EXPECT_LE(station.linesContaining("ended the server session"), 1);
    EXPECT_EQ(station.linesContaining("another uplink"), 0);
}

TEST(UplinkFaults, AStalledConnectionIsGivenUpAndForwardingGoesOn) {
    test::PostgresServer pg;
    test::TcpRelay relay(pg.port());
    UplinkFolder station("boiler", relay.conninfo());
    station.appendRows(0, 999);
    test::ChildProcess uplink(station.command({"--interval", "0.2"}));
    ASSERT_TRUE(waitForCentral(pg, "boiler", 1000));
    // The link stops passing anything, both ends left open.
    relay.freeze();
    const auto stalled = Clock::now();
    station.appendRows(1000, 1499);
    ASSERT_TRUE(waitForCentral(pg, "boiler", 1500, 120s));
    const double seconds = secondsSince(stalled);
    std::printf("stalled connection: forwarding again in %.1f s\n", seconds);
    EXPECT_LT(seconds, 60);
    expectCentralHoldsExactly(pg, "boiler", station.localRows());
    EXPECT_EQ(station.linesContaining("server unreachable: the server did not answer within"), 1)
        << joined(station.errorLines());
    EXPECT_EQ(station.linesContaining("forwarding station 'boiler'"), 2);
    for (const auto& line : station.errorLines())
        EXPECT_EQ(line.rfind("mirv-uplink: ", 0), 0u) << line;
    const int status = uplink.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
} // namespace mirv
