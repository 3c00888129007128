#include "meter_profile_file.h"
#include "profile_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace mirv {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Each shipped example decoding answers written out from its document: register contents by
// hand, the expected texts from the values they stand for.
TEST(ExampleProfiles, DecodeHandWrittenAnswers) {
    const struct {
        const char* profile;
        std::vector<Bytes> reads;
        BoardRow row;
    } cases[] = {
        {"float32-cdab-input",
         {{0x00, 0x00, 0x40, 0x20,   // 0: flow 2.5 l/s
           0x00, 0x00, 0x3F, 0xA0,   // 2: velocity 1.25
           0x00, 0x00, 0x42, 0x75,   // 4: inlet 61.25
           0x00, 0x00, 0x42, 0x22,   // 6: outlet 40.5
           0x00, 0x00, 0xC0, 0x60,   // 8: heat power -3.5 kW
           0x00, 0x00, 0x41, 0x48,   // 10: heat total 12.5 MWh
           0x10, 0x00, 0x44, 0x7A,   // 12: forward 1000.25 m3
           0x00, 0x05, 0xA5, 0xA5}}, // 14: bits 0 and 2; 15: unused
         {"9.000", "1.2500", "61.25", "40.50", "1000.25", "", "-3.500",
          "通讯正常,空管报警,励磁报警", "", "12500.000", ""}},
        {"int32-scaled-gj",
         {{0x00, 0x00, 0x30, 0x39, // 0: flow 12345 thousandths
           0xFF, 0x6A,             // 2: velocity -150 hundredths
           0x17, 0xED, 0x0F, 0xD2, // 3, 4: 6125 and 4050 hundredths
           0xFF, 0xFF, 0xFF, 0xFF, // 5: forward 4294967295 hundredths
           0xFF, 0xFF, 0xFF, 0xDD, // 7: heat power -35 tenths
           0x00, 0x00, 0x03, 0xE8, // 9: heat total 1000 thousandths of a GJ
           0x00, 0x03}},           // 11: alarm value 3
         {"12.345", "-1.50", "61.25", "40.50", "42949672.95", "", "-3.5", "通讯正常,下限报警", "",
          "277.78", ""}},
        {"two-blocks",
         {{0x41, 0x48, 0x00, 0x00,                         // 0: flow 12.5
           0x3F, 0xC0, 0x00, 0x00,                         // 2: velocity 1.5
           0x5B, 0x07, 0x15, 0xCD,                         // 4: forward 123456789 l, BADC
           0x00, 0x00, 0xF4, 0x01,                         // 6: reverse 500 l, BADC
           0xA5, 0xA5, 0xA5, 0xA5},                        // 8, 9: unused
          {0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0xD6, 0x87, // 1000: heat total 1234567 Wh
           0x02, 0x67, 0x01, 0x95,                         // 1004, 1005: 615 and 405 tenths
           0x00, 0xC0, 0x5A, 0x45,                         // 1006: heat power 3500 W, DCBA
           0x80, 0x08}},                                   // 1008: bits 3 and 15
         {"12.5000", "1.5000", "61.50", "40.50", "123456.789", "0.500", "3.500",
          "通讯正常,上限报警,空管报警", "", "1234.567", ""}},
    };
    for (const auto& c : cases) {
        const ProfileResult r = findMeterProfile(MIRV_PROFILES_DIR, c.profile);
        ASSERT_EQ(r.error, "") << c.profile;
        std::vector<ReadData> data(c.reads.begin(), c.reads.end());
        EXPECT_EQ(decodeWithProfile(*r.profile, data), c.row) << c.profile;
    }
}

// A read that brought fewer registers than a value needs leaves that value empty.
TEST(ExampleProfiles, ShortReadLeavesItsValuesEmpty) {
    const ProfileResult r = findMeterProfile(MIRV_PROFILES_DIR, "two-blocks");
    ASSERT_TRUE(r.profile);
    const Bytes first{0x41, 0x48, 0x00, 0x00, 0x3F, 0xC0, 0x00, 0x00, 0, 0,
                      0,    0,    0,    0,    0,    0,    0,    0,    0, 0};
    const Bytes second{0x00, 0x00};
    const ReadData data[] = {first, second};
    const BoardRow row = decodeWithProfile(*r.profile, data);
    EXPECT_EQ(row[FlowRateCell], "12.5000");
    EXPECT_EQ(row[HeatTotalCell], "");
    EXPECT_EQ(row[HeatPowerCell], "");
    EXPECT_EQ(row[StatusCell], "通讯正常");
}

} // namespace
} // namespace mirv
