// The central history when a station's login tries to stop another station or the server,
// when a pooler stands between uplink and server, and when a station's setting, a row or a
// second PC of the same identity does not fit: each against a PostgreSQL server (and a
// pooler) the test starts.
#include "pgbouncer.h"
#include "uplink_support.h"

#include <sys/stat.h>

namespace mirv {
namespace {

using namespace e2e;

int exitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(UplinkHostile, NoStationRoleCanStopAnotherOrTheServer) {
    test::PostgresServer pg;
    setUpRoles(pg, {"a", "b"});
    test::PgConnection admin(pg.conninfo());
    test::PgConnection b(asRole(pg, "st_b"));
    UplinkFolder a("a", asRole(pg, "st_a"));
    a.appendRows(0, 99);
    ASSERT_EQ(a.runOnce(), 0) << joined(a.errorLines());

    const char* refused[] = {
        // the lock another uplink or an upgrade waits for, or the server's lock table
        "SELECT pg_advisory_lock(hashtextextended('station_history uplink a', 0))",
        "SELECT pg_try_advisory_lock(1)",
        "SELECT pg_advisory_xact_lock(hashtextextended('station_history migrations', 0))",
        "SELECT pg_try_advisory_xact_lock_shared(1, 2)",
        // tables of its own, each holding a lock to the transaction's end
        "CREATE TEMP TABLE t (i int)",
        // who forwards what
        "SELECT mirv_station_of('st_a')",
        "SELECT mirv_reads_all('st_a')",
        // its own bookkeeping, beyond what forwarding needs
        "UPDATE stations SET zone = '../../etc/passwd'",
        "UPDATE stations SET rows_forwarded = -5",
        "UPDATE stations SET identity = NULL",
        "UPDATE stations SET conflicts_kept = 0",
        "INSERT INTO stations (name, identity, conflicts_kept) VALUES ('b', "
        "'0123456789abcdef0123456789abcdef', -100000)",
        "UPDATE station_uplink_progress SET last_local_id = -1",
    };
    b.exec("INSERT INTO stations (name, identity, zone) VALUES "
           "('b', '0123456789abcdef0123456789abcdef', 'UTC')");
    b.exec("INSERT INTO station_uplink_progress (station, last_local_id, last_row_hash) "
           "VALUES ('b', 0, 0)");
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(b.tryExec(sql), "");
    }
    EXPECT_EQ(b.value("SELECT string_agg(role_name || '=' || station, ' ') FROM station_roles"),
              "st_b=b");

    // Conflicts: 10 per key, 4 kB each, 10000 per station; what is not kept is not counted.
    b.exec("INSERT INTO station_conflicts (station, meter_id, create_time, time_repeat, held, "
           "offered) SELECT 'b', 1, '2025-01-01', 0, '{}', jsonb_build_object('n', i) "
           "FROM generate_series(1, 12) i");
    b.exec("INSERT INTO station_conflicts (station, meter_id, create_time, time_repeat, held, "
           "offered) VALUES ('b', 2, '2025-01-01', 0, '{}', "
           "jsonb_build_object('x', repeat('x', 5000)))");
    b.exec("INSERT INTO station_conflicts (station, meter_id, create_time, time_repeat, held, "
           "offered) SELECT 'b', i, '2025-01-02', 0, '{}', '{}' FROM generate_series(1, 10100) i");
    EXPECT_EQ(admin.value("SELECT count(*) || ' ' || (SELECT conflicts_kept FROM stations "
                          "WHERE name = 'b') FROM station_conflicts WHERE station = 'b'"),
              "10000 10000");

    // Each station role has a limit of its own: b's fifth session is refused, a's is not.
    EXPECT_EQ(admin.value("SELECT rolconnlimit FROM pg_roles WHERE rolname = 'st_b'"), "4");
    std::vector<std::unique_ptr<test::PgConnection>> more;
    for (int i = 0; i < 3; ++i)
        more.push_back(std::make_unique<test::PgConnection>(asRole(pg, "st_b")));
    PGconn* fifth = PQconnectdb(asRole(pg, "st_b").c_str());
    EXPECT_NE(std::string(PQerrorMessage(fifth)).find("too many connections"), std::string::npos);
    PQfinish(fifth);

    // b holding everything it can lock, in a transaction left open, does not hold a up.
    b.exec("BEGIN; SELECT * FROM stations FOR UPDATE; SELECT * FROM station_uplink_progress "
           "FOR UPDATE; LOCK TABLE station_history IN ROW EXCLUSIVE MODE");
    a.appendRows(100, 199);
    const auto start = Clock::now();
    ASSERT_EQ(a.runOnce(), 0) << joined(a.errorLines());
    EXPECT_LT(Clock::now() - start, 20s);
    EXPECT_EQ(centralCount(pg, "a"), 200);
}

TEST(UplinkHostile, SigtermEndsAWaitForTheServerWithinFiveSeconds) {
    test::PostgresServer pg;
    setUpRoles(pg, {"a"});
    UplinkFolder a("a", asRole(pg, "st_a"));
    a.appendRows(0, 99);
    // The owner holds the station's table: the uplink waits at its first batch.
    test::PgConnection admin(pg.conninfo());
    admin.exec("BEGIN; LOCK TABLE stations IN ACCESS EXCLUSIVE MODE");
    test::ChildProcess uplink(a.command({}));
    test::PgConnection watch(pg.conninfo());
    const auto waiting = Clock::now() + 30s;
    while (watch.value("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                       "'mirv-uplink' AND wait_event_type = 'Lock'") != "1" &&
           Clock::now() < waiting)
        std::this_thread::sleep_for(50ms);
    ASSERT_LT(Clock::now(), waiting);
    ::kill(uplink.pid(), SIGTERM);
    EXPECT_EQ(exitCode(uplink.waitForExit(5s)), 0) << joined(a.errorLines());
}

struct PoolCase {
    const char* mode;
};

class UplinkPooled : public testing::TestWithParam<PoolCase> {};

TEST_P(UplinkPooled, ForwardsRunAfterRunThroughThePooler) {
    test::PostgresServer pg;
    setUpRoles(pg, {"a", "b"});
    test::Pgbouncer pool(pg.port(), GetParam().mode, {"st_a", "st_b"}, 1);
    UplinkFolder a("a", pool.conninfo("st_a"));
    UplinkFolder b("b", pool.conninfo("st_b"));
    for (int run = 0; run < 3; ++run) {
        a.appendRows(run * 1000, run * 1000 + 999);
        b.appendRows(run * 500, run * 500 + 499);
        test::ChildProcess one(a.command({"--once", "--batch-rows", "300"}));
        test::ChildProcess two(b.command({"--once", "--batch-rows", "300"}));
        ASSERT_EQ(exitCode(one.waitForExit(120s)), 0) << joined(a.errorLines());
        ASSERT_EQ(exitCode(two.waitForExit(120s)), 0) << joined(b.errorLines());
    }
    expectCentralHoldsExactly(pg, "a", a.localRows());
    expectCentralHoldsExactly(pg, "b", b.localRows());
}

INSTANTIATE_TEST_SUITE_P(Modes, UplinkPooled,
                         testing::Values(PoolCase{"transaction"}, PoolCase{"session"}),
                         [](const auto& c) { return std::string(c.param.mode); });

TEST(UplinkRows, AYearOneRowUnderAFarZoneGoesInAndARefusedRowIsSetAside) {
    test::PostgresServer pg;
    UplinkFolder owner("east", pg.conninfo(), true, "zone = Asia/Tokyo\n");
    owner.appendRows(0, 9);
    owner.folder.exec("UPDATE Historydata SET CreateTime = '0001-01-01 00:00:00' WHERE ID = 3");
    ASSERT_EQ(owner.runOnce(), 0) << joined(owner.errorLines());
    EXPECT_EQ(centralCount(pg, "east"), 10);

    // A value the server's own check refuses: that row is left out, the rest go on.
    test::PgConnection admin(pg.conninfo());
    admin.exec("ALTER TABLE station_history ADD CHECK (flow_rate < 11)");
    owner.appendRows(10, 29); // flow rates 10.137.. for 10, 11.. for 83 and up: all below 11
    owner.folder.exec("UPDATE Historydata SET MinuteAverage = '12' WHERE ID IN (15, 25)");
    ASSERT_EQ(owner.runOnce(), 0) << joined(owner.errorLines());
    EXPECT_EQ(centralCount(pg, "east"), 28);
    EXPECT_EQ(admin.value("SELECT rows_set_aside FROM stations WHERE name = 'east'"), "2");
    EXPECT_EQ(owner.linesContaining("2 local rows set aside, the server cannot take them"), 1);
    EXPECT_EQ(owner.linesContaining("first: ID 15: "), 1);
}

struct TwinCase {
    const char* name;
    std::vector<std::string> args;
};

class UplinkTwins : public testing::TestWithParam<TwinCase> {};

TEST_P(UplinkTwins, ASecondFolderWithTheSameIdentityButOtherFilesIsRefused) {
    test::PostgresServer pg;
    UplinkFolder first("twin", pg.conninfo());
    UplinkFolder second("twin", pg.conninfo());
    first.appendRows(0, 99);
    second.appendRows(5000, 5049);
    ASSERT_EQ(first.runOnce(), 0) << joined(first.errorLines());
    std::filesystem::copy_file(first.folder.path() + "/uplink.id",
                               second.folder.path() + "/uplink.id");
    test::ChildProcess p(second.command(GetParam().args));
    EXPECT_EQ(exitCode(p.waitForExit(60s)), 2) << joined(second.errorLines());
    EXPECT_EQ(second.linesContaining("with the same identity (uplink.id) as this program folder "
                                     "but other files: stop the uplink there"),
              1)
        << joined(second.errorLines());
    expectCentralHoldsExactly(pg, "twin", first.localRows());
}

INSTANTIATE_TEST_SUITE_P(Modes, UplinkTwins,
                         testing::Values(TwinCase{"once", {"--once"}},
                                         TwinCase{"service", {"--interval", "0.2"}}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(UplinkSettings, WhatRetryingCannotFixEndsWithExitTwoNamingTheSetting) {
    test::PostgresServer pg;
    setUpRoles(pg, {"a", "b"});
    const struct {
        std::string station, conninfo, said;
    } cases[] = {
        {"b", asRole(pg, "st_a"),
         "station in uplink.conf is 'b', but the server's role 'st_a' forwards station 'a'"},
        {"a", asRole(pg, "st_a") + " sslmode=require",
         "conninfo in uplink.conf asks for TLS (sslmode), which the server does not offer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        UplinkFolder f(c.station, c.conninfo);
        f.appendRows(0, 9);
        test::ChildProcess p(f.command({"--interval", "0.2"}));
        EXPECT_EQ(exitCode(p.waitForExit(60s)), 2);
        EXPECT_EQ(f.linesContaining(c.said), 1) << joined(f.errorLines());
    }

    // libpq's own warning about a password file others may read is said as the uplink's.
    UplinkFolder a("a", asRole(pg, "st_a"));
    const std::string passfile = a.folder.path() + "/pgpass";
    std::ofstream(passfile) << "127.0.0.1:*:*:st_a:secret\n";
    ::chmod(passfile.c_str(), 0644);
    test::ChildProcess p(a.command({"--once"}), {{"PGPASSFILE", passfile}});
    EXPECT_EQ(exitCode(p.waitForExit(60s)), 0);
    EXPECT_EQ(a.linesContaining("mirv-uplink: WARNING: password file"), 1)
        << joined(a.errorLines());
    for (const auto& line : a.errorLines())
        EXPECT_EQ(line.rfind("mirv-uplink: ", 0), 0u) << line;
}

TEST(UplinkRows, ASecondSendingAddsNoConflictAndCountsNothingTwice) {
    test::PostgresServer pg;
    // A name COPY's text format must escape, and a clock set back: the second pass of
    // 08:00-08:01 repeats the key's time with other readings.
    const std::string name = "hall\\2\tnorth";
    UplinkFolder f(name, pg.conninfo());
    f.folder.exec("INSERT INTO Historydata (MeterID, MinuteAverage, CreateTime) VALUES "
                  "(1, '1.5', '2025-03-01 08:00:00'), (1, '1.6', '2025-03-01 08:01:00'), "
                  "(1, '2.5', '2025-03-01 08:00:00'), (1, '2.6', '2025-03-01 08:01:00')");
    // In batches of 3: the last row's first pass is in the batch before.
    ASSERT_EQ(f.runOnce({"--batch-rows", "3"}), 0) << joined(f.errorLines());
    test::PgConnection admin(pg.conninfo());
    EXPECT_EQ(admin.value("SELECT string_agg(flow_rate || '/' || time_repeat, ' ' ORDER BY "
                          "local_id) FROM station_history WHERE station = $1",
                          {name}),
              "1.5/0 1.6/0 2.5/1 2.6/1");
    // Sent again from the first row, as after a restore.
    admin.exec("UPDATE station_uplink_progress SET last_local_id = 0, last_row_hash = 0");
    ASSERT_EQ(f.runOnce(), 0) << joined(f.errorLines());
    EXPECT_EQ(f.linesContaining("up to date: 4 rows read, 0 new on the server"), 1);
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_conflicts"), "0");
    EXPECT_EQ(admin.value("SELECT rows_forwarded FROM stations WHERE name = $1", {name}), "4");
}

} // namespace
} // namespace mirv
