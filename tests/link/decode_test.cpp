#include "compose_row.h"
#include "fake_serial_port.h"
#include "hand_made_answer.h"
#include "meter_link.h"
#include "number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace mirv {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The answer written out byte by byte, independent of the project's own answer builder.
std::vector<std::uint8_t> handMadeAnswer(bool withFlow) {
    std::vector<std::uint8_t> a{0x01, 0x03, 0xB6};
    a.resize(185, 0x00);
    if (withFlow) {
        a[3] = 0x41;
        a[4] = 0x48;
        a.insert(a.end(), {0x08, 0x3D});
    } else {
        a.insert(a.end(), {0x72, 0x9F});
    }
    return a;
}

// A link on a fake port that has just polled `address` (of `meters` meters).
struct PolledLink {
    test::FakeSerialPort port;
    ReadingsBoard board;
    MeterLink link{port, board};

    PolledLink(const char* meters, int address) {
        port.bytesArrived = [this] { link.onBytesArrived(); };
        link.meterCount = meters;
        for (int i = 0; i < address; ++i)
            link.onPollTick();
    }
};

TEST(Decode, WholeAnswerFillsRowOne) {
    const struct {
        bool withFlow;
        const char* flow;
    } cases[] = {{true, "12.5000"}, {false, "0.0000"}};
    for (const auto& c : cases) {
        PolledLink p("1", 1);
        p.port.receive(handMadeAnswer(c.withFlow));
        const BoardRow expected{c.flow,   "0.0000",   "0.00",   "0.00", "0.00", "0.00",
                                "0.0000", "通讯正常", "0.0000", "0.00", "0.00"};
        EXPECT_EQ(p.board.row(1), expected);
        EXPECT_FALSE(p.link.awaitingReply);
        EXPECT_TRUE(p.board.answered(1));
    }
}

TEST(Decode, Totals) {
    const struct {
        RegisterMap m;
        const char* forward;
        const char* heat;
        const char* cold;
    } cases[] = {
        {{.forwardInt = 123456, .forwardFrac = 0.75f}, "123456.75", "0.00", "0.00"},
        {{.heatTotalLow = 5, .heatTotalHigh = 2, .heatTotalFrac = 0.5f},
         "0.00",
         "2000000005.50",
         "0.00"},
        {{.forwardInt = 1234567, .forwardFrac = 0.891f}, "1234567.89", "0.00", "0.00"},
        // Unsigned registers at their largest: never wrapped, never negative.
        {{.forwardInt = 0xFFFFFFFF,
          .heatTotalLow = 0xFFFFFFFF,
          .heatTotalHigh = 0xFFFFFFFF,
          .coldTotalLow = 999999999,
          .coldTotalHigh = 0xFFFFFFFF,
          .coldTotalFrac = 0.99f},
         "4294967295.00",
         "4294967299294967295.00",
         "4294967295999999999.99"},
        // The fraction is rounded to ten-thousandths before the total is shown: 0.005f is
        // 0.0049999998..., 50 ten-thousandths, shown as 0.01.
        {{.forwardFrac = 0.125f}, "0.13", "0.00", "0.00"},
        {{.forwardFrac = 0.005f}, "0.01", "0.00", "0.00"},
        {{.forwardInt = 10, .forwardFrac = -0.25f}, "9.75", "0.00", "0.00"},
        {{.forwardFrac = -0.5f}, "-0.50", "0.00", "0.00"},
        // Fractions that cannot be counted in ten-thousandths leave the cell empty.
        {{.forwardInt = 7, .forwardFrac = kNaN}, "", "0.00", "0.00"},
        {{.heatTotalFrac = kInf}, "0.00", "", "0.00"},
        {{.coldTotalFrac = 1e30f}, "0.00", "0.00", ""},
        {{.forwardFrac = 9.0e14f}, "899999995002880.00", "0.00", "0.00"},
    };
    for (const auto& c : cases) {
        const BoardRow row = composeRow(c.m);
        EXPECT_EQ(row[ForwardTotalCell], c.forward);
        EXPECT_EQ(row[HeatTotalCell], c.heat);
        EXPECT_EQ(row[ColdTotalCell], c.cold);
    }
}

TEST(Decode, StatusTextAlarmsOnlyWhenFlagIsExactlyOne) {
    const struct {
        RegisterMap m;
        const char* text;
    } cases[] = {
        {{}, "通讯正常"},
        {{.exciteAlarm = 1}, "通讯正常,励磁报警"},
        {{.emptyPipeAlarm = 1, .upperAlarm = 1}, "通讯正常,空管报警,上限报警"},
        {{.exciteAlarm = 1,
          .electrodeAlarm = 1,
          .emptyPipeAlarm = 1,
          .upperAlarm = 1,
          .lowerAlarm = 1},
         "通讯正常,励磁报警,电极报警,空管报警,上限报警,下限报警"},
        {{.exciteAlarm = 2, .electrodeAlarm = 0xFFFF, .lowerAlarm = 257}, "通讯正常"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(composeRow(c.m)[StatusCell], c.text);
}

TEST(Decode, TemperatureWindowTestsTheRawFloat) {
    const struct {
        float t;
        const char* shown;
    } cases[] = {
        {0.0f, "0.00"},  {299.994f, "299.99"}, {299.996f, "300.00"}, {300.0f, ""}, {-0.01f, ""},
        {-0.0f, "0.00"}, {kNaN, ""},           {kInf, ""},           {350.0f, ""}, {21.5f, "21.50"},
    };
    for (const auto& c : cases) {
        const BoardRow row = composeRow({.inletTemp = c.t, .outletTemp = c.t});
        EXPECT_EQ(row[InletTempCell], c.shown) << c.t;
        EXPECT_EQ(row[OutletTempCell], c.shown) << c.t;
    }
}

TEST(Decode, FloatsShowTheirExactValueRoundedHalfAwayFromZero) {
    const struct {
        float v;
        int decimals;
        const char* shown;
    } cases[] = {
        {12.3f, 4, "12.3000"},
        {0.125f, 2, "0.13"},
        {-0.125f, 2, "-0.13"},
        {0.375f, 2, "0.38"},
        {2.5f, 0, "3"},
        {0.03125f, 4, "0.0313"},
        {-0.03125f, 4, "-0.0313"},
        {0.015f, 2, "0.01"}, // 0.015f is 0.01499999...
        {1.005f, 2, "1.00"},
        {9.99995f, 4, "10.0000"},
        {-0.001f, 2, "-0.00"},
        {3.4e38f, 2, "339999995214436424907732413799364296704.00"},
        {kNaN, 4, ""},
        {-kInf, 4, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatDecimal(c.v, c.decimals), c.shown) << c.v;
}

TEST(Decode, NonFiniteReadingsLeaveTheirCellsEmpty) {
    const BoardRow row =
        composeRow({.flowRate = kNaN, .flowSpeed = kInf, .heatPower = -kInf, .coldPower = kNaN});
    EXPECT_EQ(row[FlowRateCell], "");
    EXPECT_EQ(row[FlowSpeedCell], "");
    EXPECT_EQ(row[HeatPowerCell], "");
    EXPECT_EQ(row[ColdPowerCell], "");
    EXPECT_EQ(row[StatusCell], "通讯正常");
}

// Every register of the map read from its own place: a swapped, shifted or misread register
// changes one of the eleven cells.
TEST(Decode, HandMadeAnswerFillsEveryCellFromItsOwnRegister) {
    PolledLink p("20", 7);
    p.port.receive(test::handMadeAnswer());
    const BoardRow expected{
        "12.5000",   "1.5000",        "61.25",        "40.50",
        "123456.75", "1000.25",       "-3.5000",      "通讯正常,励磁报警,上限报警",
        "7.0000",    "2000000005.50", "3001000000.13"};
    EXPECT_EQ(p.board.row(7), expected);
    EXPECT_TRUE(p.board.answered(7));
    EXPECT_FALSE(p.link.awaitingReply);
}

// The completeness test reads one hex digit of the function code: 0x13 and 0x83 pass it.
TEST(Decode, FunctionDigitDecidesWhetherAWholeFrameIsDecoded) {
    const struct {
        std::uint8_t function;
        bool decoded;
    } cases[] = {{0x03, true}, {0x04, false}, {0x13, true}, {0x83, true}};
    for (const auto& c : cases) {
        PolledLink p("7", 7);
        p.port.receive(test::handMadeAnswer(c.function));
        EXPECT_EQ(p.board.answered(7), c.decoded) << int(c.function);
        EXPECT_EQ(p.board.row(7)[FlowRateCell], c.decoded ? "12.5000" : "") << int(c.function);
    }
}

} // namespace
} // namespace mirv
