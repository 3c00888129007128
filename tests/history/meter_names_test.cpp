#include "meter_plan_reader.h"
#include "program_folder.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

// Names as a Meters table could hold them, by address.
const std::map<int, std::string> kNames = {
    {17, "锅炉房"}, {3, "  1号楼 "}, {101, "东区\n换热站"}, {5, ""}, {6, "   "}};

struct LabelCase {
    const char* meterId;
    const char* label;
    const char* name;
};

TEST(MeterNames, ALabelIsTheNumberThenTheNameWhenThereIsOne) {
    const MeterNames names(kNames);
    const LabelCase cases[] = {
        {"17", "17 锅炉房", "锅炉房"},
        {"3", "3 1号楼", "1号楼"},
        {"101", "101 东区 换热站", "东区 换热站"},
        {"5", "5", ""},     // empty name
        {"6", "6", ""},     // blank name
        {"4", "4", ""},     // no entry
        {"017", "017", ""}, // not the address's own text
        {"", "", ""},
        {"全部", "全部", ""},
    };
    for (const LabelCase& c : cases) {
        EXPECT_EQ(names.label(c.meterId), c.label) << c.meterId;
        EXPECT_EQ(names.nameOf(c.meterId), c.name) << c.meterId;
    }
    EXPECT_EQ(names.label(17), "17 锅炉房");
    EXPECT_EQ(names.label(9), "9");
    EXPECT_EQ(names.labels(),
              (std::vector<std::string>{"3 1号楼", "17 锅炉房", "101 东区 换热站"}));
}

TEST(MeterNames, AFieldHoldingALabelStandsForItsMeter) {
    const MeterNames names(kNames);
    const std::pair<const char*, const char*> cases[] = {
        {"17 锅炉房", "17"}, {" 17 锅炉房 ", "17"}, {"17", "17"}, {"17 锅炉", "17 锅炉"},
        {"5", "5"},          {"全部", "全部"},      {"", ""},     {"3 锅炉房", "3 锅炉房"},
    };
    for (const auto& [text, meter] : cases)
        EXPECT_EQ(names.meterOf(text), meter) << text;
}

TEST(MeterNames, ReadFromTheMetersTableByAddressTheFirstRowWinning) {
    test::ProgramFolder folder;
    folder.exec("INSERT INTO Meters (Row, Address, Profile, Name, Polled) VALUES "
                "(1, 17, 'default', '锅炉房', 1), (2, 3, 'default', NULL, 1),"
                "(4, 17, 'default', 'Second', 1), (5, 248, 'default', 'Out', 1),"
                "(6, 9, 'default', '备用', 0)");
    const MeterNames names = readMeterNames(folder.databasePath());
    EXPECT_EQ(names.labels(), (std::vector<std::string>{"9 备用", "17 锅炉房"}));
    EXPECT_TRUE(readMeterNames(folder.databasePath() + ".missing").empty());
}

} // namespace
} // namespace mirv
