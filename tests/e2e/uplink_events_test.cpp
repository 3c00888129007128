// The station's event journal forwarded by the built mirv-uplink to station_events on a
// PostgreSQL server the test starts: each event once, across a server killed and restarted and
// an uplink killed mid-batch; each station role sees and adds only its own.
#include "event_journal.h"
#include "uplink_support.h"

namespace mirv {
namespace {

using namespace e2e;

// Events first..last written by SQLite alone: meter n % 4 (0 is the station), a minute per
// event from 2025-03-01 08:00 local, UTC eight hours earlier.
void appendEvents(const UplinkFolder& f, int first, int last) {
    f.folder.exec(std::string(kEventTablesSql) + "WITH RECURSIVE n(i) AS (SELECT " +
                  std::to_string(first) + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
                  std::to_string(last) +
                  ") INSERT INTO Events (ID, CreateTime, UtcTime, MeterID, Kind, Phase, Text, "
                  "Detail, User) SELECT i, strftime('%Y-%m-%d %H:%M:%S', '2025-03-01 08:00:00', "
                  "'+' || i || ' minutes'), strftime('%Y-%m-%dT%H:%M:%SZ', '2025-03-01 00:00:00', "
                  "'+' || i || ' minutes'), i % 4, 'silent', CASE WHEN i % 2 THEN 'begin' ELSE "
                  "'end' END, (i % 4) || '号表 通讯中断', 'misses ' || i, '' FROM n");
}

constexpr const char* kCentralEvents =
    "SELECT count(*) || ' ' || count(DISTINCT local_id) || ' ' || min(local_id) || ' ' || "
    "max(local_id) || ' ' || count(*) FILTER (WHERE detail = 'misses ' || local_id AND "
    "text = meter_id || '号表 通讯中断' AND meter_id = local_id % 4 AND local_time - "
    "(utc_time AT TIME ZONE 'UTC') = '8 hours') FROM station_events WHERE station = $1";

// Waits until the uplink's server session sleeps in the stall.
bool waitStalled(test::PgConnection& admin) {
    const auto end = Clock::now() + 60s;
    while (admin.value("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                       "'mirv-uplink' AND wait_event = 'PgSleep'") != "1")
        if (Clock::now() > end)
            return false;
        else
            std::this_thread::sleep_for(50ms);
    return true;
}

TEST(UplinkEvents, EachEventOnceAcrossAServerRestartAndAKilledUplink) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east"});
    UplinkFolder east("east", asRole(pg, "st_east"));
    appendEvents(east, 1, 2000);
    // One event by hand: texts COPY escapes, a detail longer than the server keeps, a UtcTime
    // not in its stored form.
    east.folder.exec("UPDATE Events SET UtcTime = '2025-03-01 00:01', Kind = 'alarm-excite', "
                     "Text = '1号表 励磁报警', Detail = 'a\tb\\c' || replace(hex(zeroblob(2500)), "
                     "'0', '表'), User = '张工' WHERE ID = 1");
    // While armed, the server stalls at events 1200 and 3200 (in the third and seventh batch of
    // 500); a restart disarms it.
    test::PgConnection admin(pg.conninfo());
    admin.exec("CREATE TABLE stall_armed (started timestamptz); "
               "GRANT SELECT ON stall_armed TO mirv_station; "
               "INSERT INTO stall_armed SELECT pg_postmaster_start_time(); "
               "CREATE FUNCTION stall() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
               "IF NEW.local_id IN (1200, 3200) AND EXISTS (SELECT FROM stall_armed WHERE "
               "started = pg_postmaster_start_time()) THEN PERFORM pg_sleep(600); END IF; "
               "RETURN NEW; END $$; "
               "CREATE TRIGGER stall BEFORE INSERT ON station_events FOR EACH ROW "
               "EXECUTE FUNCTION stall()");

    auto uplink = std::make_unique<test::ChildProcess>(
        east.command({"--interval", "0.2", "--batch-rows", "500"}));
    ASSERT_TRUE(waitStalled(admin));
    ASSERT_EQ(admin.value("SELECT count(*) FROM station_events"), "1000");
    pg.kill();
    std::this_thread::sleep_for(1500ms);
    pg.start();
    test::PgConnection again(pg.conninfo());
    const auto end = Clock::now() + 90s;
    while (again.value("SELECT count(*) FROM station_events") != "2000" && Clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(again.value(kCentralEvents, {"east"}), "2000 2000 1 2000 1999");
    EXPECT_EQ(east.linesContaining("server unreachable"), 1) << joined(east.errorLines());

    // Killed inside a batch, as by a power cut: its session stays on the server.
    again.exec("UPDATE stall_armed SET started = pg_postmaster_start_time()");
    appendEvents(east, 2001, 4000);
    ASSERT_TRUE(waitStalled(again));
    ASSERT_EQ(again.value("SELECT count(*) FROM station_events"), "3000");
    uplink->stop(SIGKILL);
    uplink.reset();
    again.exec("DELETE FROM stall_armed");
    ASSERT_EQ(east.runOnce({"--batch-rows", "500"}), 0) << joined(east.errorLines());
    EXPECT_EQ(east.linesContaining("ended the server session"), 1);
    EXPECT_EQ(east.linesContaining("1000 events read, 1000 new"), 1) << joined(east.errorLines());
    EXPECT_EQ(again.value(kCentralEvents, {"east"}), "4000 4000 1 4000 3999");
    EXPECT_EQ(again.value("SELECT concat_ws('|', local_time, utc_time, meter_id, kind, phase, "
                          "text, left(detail, 6), char_length(detail), user_name) FROM "
                          "station_events WHERE local_id = 1"),
              "2025-03-01 08:01:00|1|alarm-excite|begin|1号表 励磁报警|a\tb\\c表|4000|张工");
}

TEST(UplinkEvents, AStationRoleSeesAndAddsOnlyItsOwnEvents) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east", "west"});
    UplinkFolder east("east", asRole(pg, "st_east"));
    UplinkFolder west("west", asRole(pg, "st_west"));
    appendEvents(east, 1, 3);
    appendEvents(west, 1, 2);
    ASSERT_EQ(east.runOnce(), 0) << joined(east.errorLines());
    ASSERT_EQ(west.runOnce(), 0) << joined(west.errorLines());
    test::PgConnection admin(pg.conninfo());
    const auto everything = [&] {
        return admin.value("SELECT string_agg(e::text, ',' ORDER BY station, local_id) FROM "
                           "station_events e") +
               joined(admin.rows("SELECT last_event_id, last_event_hash FROM "
                                 "station_uplink_progress ORDER BY station")[1]);
    };
    const std::string before = everything();

    test::PgConnection hostile(asRole(pg, "st_east"));
    EXPECT_EQ(hostile.value("SELECT string_agg(station || local_id, ' ' ORDER BY local_id) "
                            "FROM station_events"),
              "east1 east2 east3");
    const char* refused[] = {
        "INSERT INTO station_events (station, local_id, local_time, meter_id, kind, phase, text, "
        "detail, user_name) VALUES ('west', 9, '2025-03-01', 0, 'k', 'note', 't', '', '')",
        "UPDATE station_events SET text = 'x'",
        "DELETE FROM station_events",
        "TRUNCATE station_events",
        // what only the server writes, and texts longer than it keeps
        "INSERT INTO station_events (station, local_id, local_time, meter_id, kind, phase, text, "
        "detail, user_name, received_at) VALUES ('east', 9, '2025-03-01', 0, 'k', 'note', 't', "
        "'', '', '2000-01-01')",
        "INSERT INTO station_events (station, local_id, local_time, meter_id, kind, phase, text, "
        "detail, user_name) VALUES ('east', 9, '2025-03-01', 0, 'k', 'note', repeat('x', 1001), "
        "'', '')",
        "UPDATE station_uplink_progress SET last_event_id = -1",
    };
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(hostile.tryExec(sql), "");
    }
    hostile.exec("UPDATE station_uplink_progress SET last_event_id = 0 WHERE station = 'west'");
    EXPECT_EQ(everything(), before);

    admin.exec("CREATE ROLE billing LOGIN IN ROLE mirv_reader");
    EXPECT_EQ(test::PgConnection(asRole(pg, "billing"))
                  .value("SELECT string_agg(station || '=' || n, ' ' ORDER BY station) FROM "
                         "(SELECT station, count(*) n FROM station_events GROUP BY station) s"),
              "east=3 west=2");
}

} // namespace
} // namespace mirv
