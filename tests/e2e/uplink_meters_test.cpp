// The station's meters (address, profile, name) forwarded by the built mirv-uplink to
// station_meters on a PostgreSQL server the test starts: they arrive, a change follows, and
// another station's role can neither read nor change them.
#include "meter_plan_reader.h"
#include "uplink_support.h"

namespace mirv {
namespace {

using namespace e2e;

constexpr const char* kMeters =
    "SELECT string_agg(concat_ws('|', address, profile, name), ',' ORDER BY address) "
    "FROM station_meters WHERE station = $1";

// Three polled board rows: row 1 and row 3 with entries, row 2 at its own number.
void setUpMeters(const UplinkFolder& f) {
    f.folder.exec(std::string(kMetersTableSql) +
                  "UPDATE mirve SET num = '3'; DELETE FROM Meters; INSERT INTO Meters VALUES "
                  "(1, 17, 'float32-cdab', '一号楼 热表', 1), (3, 101, 'default', 'B栋' || "
                  "char(9) || replace(hex(zeroblob(150)), '0', '表'), 0), "
                  "(4, 55, 'default', 'not polled: beyond the meter count', 1)");
}

TEST(UplinkMeters, TheStationsMetersArriveAndTheirChangesFollow) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east"});
    UplinkFolder east("east", asRole(pg, "st_east"));
    setUpMeters(east);
    ASSERT_EQ(east.runOnce(), 0) << joined(east.errorLines());
    test::PgConnection admin(pg.conninfo());
    const std::string cut = "B栋\t" + [] {
        std::string s;
        for (int i = 0; i < 197; ++i)
            s += "表";
        return s;
    }();
    EXPECT_EQ(admin.value(kMeters, {"east"}),
              "2|default|,17|float32-cdab|一号楼 热表,101|default|" + cut);
    EXPECT_EQ(east.linesContaining("3 meters new or changed"), 1) << joined(east.errorLines());

    // Nothing new: nothing written.
    const std::string stamped = admin.value("SELECT max(updated) FROM station_meters");
    ASSERT_EQ(east.runOnce(), 0) << joined(east.errorLines());
    EXPECT_EQ(east.linesContaining("meters new or changed"), 1);
    EXPECT_EQ(admin.value("SELECT max(updated) FROM station_meters"), stamped);

    east.folder.exec("UPDATE Meters SET Name = '一号楼 冷热表' WHERE Row = 1");
    ASSERT_EQ(east.runOnce(), 0) << joined(east.errorLines());
    EXPECT_EQ(east.linesContaining("1 meters new or changed"), 1) << joined(east.errorLines());
    EXPECT_EQ(admin.value("SELECT name FROM station_meters WHERE address = 17"), "一号楼 冷热表");

    // A meter the server refuses (a rule of the plant's DBA) is said and left out; the other
    // meters and the rows go on.
    admin.exec("ALTER TABLE station_meters ADD CONSTRAINT plant_rule CHECK (name <> 'spare')");
    east.folder.exec("UPDATE Meters SET Name = 'spare' WHERE Row = 1; "
                     "UPDATE Meters SET Name = 'B' WHERE Row = 3");
    east.appendRows(0, 19);
    ASSERT_EQ(east.runOnce(), 0) << joined(east.errorLines());
    EXPECT_EQ(east.linesContaining("1 meters set aside, the server cannot take them; first: "
                                   "meter 17: "),
              1)
        << joined(east.errorLines());
    EXPECT_EQ(admin.value(kMeters, {"east"}),
              "2|default|,17|float32-cdab|一号楼 冷热表,101|default|B");
    EXPECT_EQ(centralCount(pg, "east"), 20);
}

TEST(UplinkMeters, AnotherStationsRoleNeitherReadsNorChangesThem) {
    test::PostgresServer pg;
    setUpRoles(pg, {"east", "west"});
    UplinkFolder east("east", asRole(pg, "st_east"));
    setUpMeters(east);
    ASSERT_EQ(east.runOnce(), 0) << joined(east.errorLines());
    test::PgConnection admin(pg.conninfo());
    const auto everything = [&] {
        return admin.value("SELECT string_agg(m::text, ',' ORDER BY station, address) FROM "
                           "station_meters m");
    };
    const std::string before = everything();

    test::PgConnection hostile(asRole(pg, "st_west"));
    EXPECT_EQ(hostile.value("SELECT count(*) FROM station_meters"), "0");
    const char* refused[] = {
        "INSERT INTO station_meters (station, address, profile, name) "
        "VALUES ('east', 5, 'default', 'x')",
        "INSERT INTO station_meters (station, address, profile, name) VALUES "
        "('east', 17, 'default', 'x') ON CONFLICT (station, address) DO UPDATE SET name = 'x'",
        "UPDATE station_meters SET station = 'west'",
        "DELETE FROM station_meters",
        "TRUNCATE station_meters",
        // what only the server writes, and what the table bounds
        "INSERT INTO station_meters (station, address, profile, name, updated) "
        "VALUES ('west', 5, 'default', 'x', '2000-01-01')",
        "INSERT INTO station_meters (station, address, profile, name) "
        "VALUES ('west', 248, 'default', 'x')",
        "INSERT INTO station_meters (station, address, profile, name) "
        "VALUES ('west', 5, 'default', repeat('x', 201))",
    };
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(hostile.tryExec(sql), "");
    }
    hostile.exec("UPDATE station_meters SET name = 'x'"); // none of its own yet
    EXPECT_EQ(everything(), before);
}

} // namespace
} // namespace mirv
