#include "create_database.h"
#include "meter_plan_reader.h"
#include "program_folder.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

struct Polled {
    int row;
    int address;
    std::string profile;
    std::string name;
    bool polled;
    bool operator==(const Polled&) const = default;
};

std::vector<Polled> polledOf(const MeterPlan& plan) {
    std::vector<Polled> out;
    for (const PlannedMeter& m : plan.meters)
        out.push_back({m.row, m.address, m.profile, m.name, m.polled});
    return out;
}

TEST(MeterPlan, EmptyTableIsEveryRowAtItsNumberWithTheDefaultProfile) {
    test::ProgramFolder folder;
    const MeterPlan plan = readMeterPlan(folder.databasePath(), 3);
    EXPECT_EQ(polledOf(plan), (std::vector<Polled>{{1, 1, "default", "", true},
                                                   {2, 2, "default", "", true},
                                                   {3, 3, "default", "", true}}));
    EXPECT_TRUE(plan.refusals.empty());
    EXPECT_TRUE(isRowNumberPlan(plan));
    EXPECT_EQ(readMeterPlan(folder.databasePath(), 25).meters.size(), 20u);
}

// A file from before the table: read as an empty one, and the upgrade makes it.
TEST(MeterPlan, FileWithoutTheTableGetsItEmptyFromTheUpgrade) {
    test::ProgramFolder folder;
    folder.exec("DROP TABLE Meters");
    EXPECT_EQ(readMeterPlan(folder.databasePath(), 2).meters.size(), 2u);
    ASSERT_EQ(upgradeDatabase(folder.databasePath()), std::nullopt);
    folder.exec("INSERT INTO Meters (Row, Address, Profile) VALUES (1, 17, 'two-blocks')");
    const MeterPlan plan = readMeterPlan(folder.databasePath(), 1);
    EXPECT_EQ(polledOf(plan), (std::vector<Polled>{{1, 17, "two-blocks", "", true}}));
    EXPECT_FALSE(isRowNumberPlan(plan));
}

TEST(MeterPlan, BadEntriesAreRefusedWithTheirRowAndTheRestPolled) {
    test::ProgramFolder folder;
    folder.exec("INSERT INTO Meters (Row, Address, Profile, Name, Polled) VALUES "
                "(1, 101, 'int32-scaled-gj', 'Boiler', 1), (2, 0, 'default', NULL, 1),"
                "(3, 248, 'default', NULL, 1), (4, 101, 'default', NULL, 1),"
                "(5, 6, 'default', 'Spare', 0), (7, 5, 'default', NULL, 1),"
                "(21, 9, 'default', NULL, 1)");
    const MeterPlan plan = readMeterPlan(folder.databasePath(), 7);
    EXPECT_EQ(polledOf(plan), (std::vector<Polled>{{1, 101, "int32-scaled-gj", "Boiler", true},
                                                   {5, 6, "default", "Spare", false},
                                                   {7, 5, "default", "", true}}));
    const std::string f = folder.databasePath() + ": Meters row ";
    EXPECT_EQ(plan.refusals, (std::vector<std::string>{
                                 f + "2: Address: 0 is not in 1..247",
                                 f + "3: Address: 248 is not in 1..247",
                                 f + "4: Address: 101 is row 1's already",
                                 f + "6: Address: 6 is row 5's already",
                             }));
}

} // namespace
} // namespace mirv
