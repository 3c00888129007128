// A row the server refuses only when the station's role takes the batch over (a check or a
// trigger the DBA added to the central tables) is set aside alone, counted and said once;
// every other row arrives once, and later runs go on past it.
#include "uplink_support.h"

namespace mirv {
namespace {

using namespace e2e;

std::string setAsideCount(test::PgConnection& admin) {
    return admin.value("SELECT rows_set_aside FROM stations WHERE name = 'east'");
}

TEST(UplinkRefused, AReadingTheServersCheckRefusesIsSetAsideAndTheRestArriveOnce) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east"});
    test::PgConnection admin(pg.conninfo());
    admin.exec("ALTER TABLE station_history ADD CONSTRAINT dba_flow CHECK (flow_rate < 12)");
    UplinkFolder f("east", asRole(pg, "st_east"));
    f.appendRows(0, 99); // flow rates from 10 to 11.4: all taken
    f.folder.exec("UPDATE Historydata SET MinuteAverage = '12.5' WHERE ID = 58");
    ASSERT_EQ(f.runOnce({"--batch-rows", "40"}), 0) << joined(f.errorLines());
    EXPECT_EQ(centralCount(pg, "east"), 99);
    EXPECT_EQ(setAsideCount(admin), "1");
    EXPECT_EQ(f.linesContaining("1 local rows set aside, the server cannot take them"), 1)
        << joined(f.errorLines());
    EXPECT_EQ(f.linesContaining("first: ID 58: "), 1) << joined(f.errorLines());

    // The next run goes on after it and does not offer it again.
    f.appendRows(100, 119);
    ASSERT_EQ(f.runOnce({"--batch-rows", "40"}), 0) << joined(f.errorLines());
    EXPECT_EQ(setAsideCount(admin), "1");
    EXPECT_EQ(f.linesContaining("rows set aside"), 1);
    f.folder.exec("DELETE FROM Historydata WHERE ID = 58");
    expectCentralHoldsExactly(pg, "east", f.localRows());
}

constexpr const char* kInsertLinkstats =
    "INSERT INTO Linkstats (MeterID, Hour, Requests, Answers, Misses, CrcWrong, TooShort, "
    "TooLong, Trailing, WrongFunction, WrongAddress, ResponseMeanUs, ResponseMaxUs) VALUES ";

TEST(UplinkRefused, ALinkstatsRowTheServersCheckRefusesIsSetAsideAndTheRestArriveOnce) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east"});
    test::PgConnection admin(pg.conninfo());
    admin.exec("ALTER TABLE station_linkstats ADD CONSTRAINT dba_misses CHECK (misses < 100)");
    UplinkFolder f("east", asRole(pg, "st_east"));
    f.folder.exec(std::string(kInsertLinkstats) +
                  "(1, '2025-03-01 09:00:00', 720, 720, 0, 0, 0, 0, 0, 0, 0, 98500, 131000), "
                  "(2, '2025-03-01 09:00:00', 720, 690, 30, 0, 0, 0, 0, 0, 0, 101250, 150000), "
                  "(1, '2025-03-01 10:00:00', 719, 719, 0, 0, 0, 0, 0, 0, 0, 98400, 129000), "
                  "(2, '2025-03-01 10:00:00', 720, 0, 720, 0, 0, 0, 0, 0, 0, 0, 0), "
                  "(1, '2025-03-01 11:00:00', 720, 720, 0, 0, 0, 0, 0, 0, 0, 98000, 120000)");
    ASSERT_EQ(f.runOnce(), 0) << joined(f.errorLines());
    const char* held = "SELECT string_agg(meter_id || ' ' || hour, ', ' ORDER BY hour, meter_id) "
                       "FROM station_linkstats";
    EXPECT_EQ(admin.value(held), "1 2025-03-01 09:00:00, 2 2025-03-01 09:00:00, "
                                 "1 2025-03-01 10:00:00, 1 2025-03-01 11:00:00");
    EXPECT_EQ(setAsideCount(admin), "1");
    EXPECT_EQ(f.linesContaining("1 Linkstats rows set aside, the server cannot take them"), 1)
        << joined(f.errorLines());
    EXPECT_EQ(f.linesContaining("first: meter 2, hour 2025-03-01 10:00:00: "), 1);

    f.folder.exec(std::string(kInsertLinkstats) +
                  "(2, '2025-03-01 11:00:00', 720, 700, 20, 0, 0, 0, 0, 0, 0, 99000, 125000)");
    ASSERT_EQ(f.runOnce(), 0) << joined(f.errorLines());
    EXPECT_EQ(admin.value("SELECT count(*) FROM station_linkstats"), "5");
    EXPECT_EQ(setAsideCount(admin), "1");
    EXPECT_EQ(f.linesContaining("rows set aside"), 1);
}

} // namespace
} // namespace mirv
