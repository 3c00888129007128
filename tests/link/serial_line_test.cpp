// The poll cycle over real pseudo-terminals through QSerialPort: against libmodbus as an
// independent slave, against the project's simulator, and with the device vanishing.
#include "child_process.h"
#include "meter_link.h"
#include "meter_profile_file.h"
#include "qt_serial_port.h"
#include "temp_dir.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <modbus/modbus.h>

namespace mirv {
namespace {

// The link as the window wires it, on a real port.
struct LinkOnPort {
    QtSerialPort port;
    ReadingsBoard board;
    MeterLink link{port, board};

    LinkOnPort(const std::string& device, const std::string& meters) {
        link.meterCount = meters;
        port.bytesArrived = [this] { link.onBytesArrived(); };
        EXPECT_EQ(port.open(device), std::nullopt);
        EXPECT_EQ(port.setSettings("9600,n,8,1"), std::nullopt);
    }
    // One poll tick, then the event loop runs while the answer comes in.
    void tick(int waitMs = 150) {
        link.onPollTick();
        QTest::qWait(waitMs);
    }
};

// A libmodbus RTU slave with id 1 on `device`, serving one meter's registers forever.
void runLibmodbusSlave(const std::string& device) {
    modbus_t* ctx = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
    modbus_set_slave(ctx, 1);
    if (modbus_connect(ctx) != 0)
        return;
    modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 0x30, 91, 0, 0);
    auto reg = [&](int r) { return &map->tab_registers[r - 0x30]; };
    modbus_set_float_badc(12.5f, reg(0x30));
    *reg(0x33) = 0x0001; // forward integer 0x0001E240 = 123456
    *reg(0x34) = 0xE240;
    modbus_set_float_badc(0.75f, reg(0x35));
    *reg(0x3F) = 1; // empty pipe
    modbus_set_float_badc(1.25f, reg(0x42));
    modbus_set_float_badc(61.25f, reg(0x50));
    modbus_set_float_badc(350.0f, reg(0x58));
    modbus_set_float_badc(-3.5f, reg(0x65));
    *reg(0x6A) = 0;
    *reg(0x6B) = 5;
    *reg(0x6D) = 2; // heat high part 2 -> 2,000,000,005
    modbus_set_float_badc(0.5f, reg(0x6E));
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (true) {
        const int n = modbus_receive(ctx, query);
        if (n > 0)
            modbus_reply(ctx, query, n, map);
    }
}

TEST(SerialLine, PollsALibmodbusSlave) {
    test::TempDir dir;
    const std::string station = dir.str() + "/station", meter = dir.str() + "/meter";
    test::ChildProcess socat(
        {"socat", "pty,raw,echo=0,link=" + station, "pty,raw,echo=0,link=" + meter});
    ASSERT_TRUE(test::waitForPath(station) && test::waitForPath(meter));
    test::ChildProcess slave;
    slave.startFunction([&] { runLibmodbusSlave(meter); });
    QTest::qWait(200);

    LinkOnPort s(station, "1");
    for (int i = 0; i < 3; ++i)
        s.tick(300);
    const BoardRow expected{"12.5000",   "1.2500",        "61.25",   "",
                            "123456.75", "0.00",          "-3.5000", "通讯正常,空管报警",
                            "0.0000",    "2000000005.50", "0.00"};
    EXPECT_EQ(s.board.row(1), expected);
    EXPECT_TRUE(s.board.answered(1));
    EXPECT_FALSE(s.link.awaitingReply);
}

std::shared_ptr<const MeterProfile> shippedProfile(const char* name) {
    auto r = findMeterProfile(MIRV_PROFILES_DIR, name);
    EXPECT_EQ(r.error, "");
    return std::make_shared<const MeterProfile>(r.profile.value_or(MeterProfile{}));
}

// A libmodbus slave at address 101 holding the registers the two-blocks profile's document
// describes, written out by hand.
void runTwoBlockSlave(const std::string& device) {
    modbus_t* ctx = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
    modbus_set_slave(ctx, 101);
    if (modbus_connect(ctx) != 0)
        return;
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 1009, 0);
    std::uint16_t* r = map->tab_registers;
    r[0] = 0x4148; // flow 12.5 m3/h, float 0x41480000
    r[2] = 0x3FC0; // velocity 1.5
    r[4] = 0x5B07; // forward 123456789 l, bytes B A D C
    r[5] = 0x15CD;
    r[6] = 0x0000; // reverse 500 l
    r[7] = 0xF401;
    r[1002] = 0x0012; // heat total 1234567 Wh in 1000..1003
    r[1003] = 0xD687;
    r[1004] = 615;    // inlet, tenths
    r[1005] = 405;    // outlet, tenths
    r[1006] = 0x00C0; // heat power 3500 W, float 0x455AC000, bytes D C B A
    r[1007] = 0x5A45;
    r[1008] = 0x8008; // bits 3 and 15
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (true) {
        const int n = modbus_receive(ctx, query);
        if (n > 0)
            modbus_reply(ctx, query, n, map);
    }
}

TEST(SerialLine, PollsALibmodbusSlaveByItsProfile) {
    test::TempDir dir;
    const std::string station = dir.str() + "/station", meter = dir.str() + "/meter";
    test::ChildProcess socat(
        {"socat", "pty,raw,echo=0,link=" + station, "pty,raw,echo=0,link=" + meter});
    ASSERT_TRUE(test::waitForPath(station) && test::waitForPath(meter));
    test::ChildProcess slave;
    slave.startFunction([&] { runTwoBlockSlave(meter); });
    QTest::qWait(200);

    LinkOnPort s(station, "1");
    s.link.setPlan({{1, 101, shippedProfile("two-blocks")}});
    for (int i = 0; i < 4; ++i)
        s.tick(300);
    const BoardRow expected{"12.5000",    "1.5000",   "61.50", "40.50",
                            "123456.789", "0.500",    "3.500", "通讯正常,上限报警,空管报警",
                            "",           "1234.567", ""};
    EXPECT_EQ(s.board.row(1), expected);
    EXPECT_TRUE(s.board.answered(1));
}

std::vector<std::string> simulator(const std::string& link, std::vector<std::string> extra) {
    std::vector<std::string> argv{MIRV_METER_SIM, "--link", link};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

TEST(SerialLine, PollsTheSimulatorAndBlanksItsSilentMeter) {
    test::TempDir dir;
    const std::string link = dir.str() + "/com1";
    test::ChildProcess sim(simulator(link, {"--meters", "1-3", "--fault", "2:silent", "--alarm",
                                            "3:excite", "--fault", "3:pieces:4:20"}));
    ASSERT_TRUE(test::waitForPath(link));
    LinkOnPort s(link, "3");
    for (int i = 0; i < 7; ++i)
        s.tick();
    EXPECT_TRUE(s.board.answered(1));
    EXPECT_FALSE(s.board.answered(2));
    EXPECT_TRUE(s.board.answered(3));
    EXPECT_EQ(s.board.row(2), BoardRow{});
    EXPECT_EQ(s.board.row(1)[StatusCell], "通讯正常");
    EXPECT_EQ(s.board.row(3)[StatusCell], "通讯正常,励磁报警");
    EXPECT_FALSE(s.board.row(1)[FlowRateCell].empty());
}

// Meters of three kinds on one line, at addresses of their own.
TEST(SerialLine, PollsSimulatedMetersOfMixedProfiles) {
    test::TempDir dir;
    const std::string link = dir.str() + "/com1";
    test::ChildProcess sim(simulator(
        link, {"--meters", "1", "--meter", "17:float32-cdab-input", "--meter", "101:two-blocks"}));
    ASSERT_TRUE(test::waitForPath(link));
    LinkOnPort s(link, "3");
    s.link.setPlan({{1, 1, shippedProfile("default")},
                    {2, 17, shippedProfile("float32-cdab-input")},
                    {3, 101, shippedProfile("two-blocks")}});
    for (int i = 0; i < 8; ++i)
        s.tick();
    for (int row = 1; row <= 3; ++row) {
        EXPECT_TRUE(s.board.answered(row)) << row;
        EXPECT_FALSE(s.board.row(row)[FlowRateCell].empty()) << row;
        EXPECT_FALSE(s.board.row(row)[HeatTotalCell].empty()) << row;
    }
    EXPECT_EQ(s.board.row(2)[ColdTotalCell], "") << "a quantity the profile lacks";
}

// Meter 101 answers each of its two reads after the next request has gone out: its row is
// made of late answers, and the line counts each read on its own.
TEST(SerialLine, LateAnswersOfAMeterWithTwoReadsMakeItsRow) {
    test::TempDir dir;
    const std::string link = dir.str() + "/com1";
    test::ChildProcess sim(simulator(link, {"--meter", "17:float32-cdab-input", "--meter",
                                            "101:two-blocks", "--fault", "101:delay:300"}));
    ASSERT_TRUE(test::waitForPath(link));
    LinkOnPort s(link, "2");
    s.link.setPlan(
        {{1, 17, shippedProfile("float32-cdab-input")}, {2, 101, shippedProfile("two-blocks")}});
    // Ends on meter 17's tick, the slot 101's second read is answered in.
    for (int i = 0; i < 10; ++i)
        s.tick(200);
    EXPECT_TRUE(s.board.answered(1));
    EXPECT_TRUE(s.board.answered(2));
    EXPECT_FALSE(s.board.row(2)[HeatTotalCell].empty());
    const auto& reads = s.link.stats.reads();
    EXPECT_GT(reads.at({17, 0}).answers, 0u);
    for (std::uint8_t read : {0, 1}) {
        EXPECT_EQ(reads.at({101, read}).requests, 3u) << int(read);
        EXPECT_GT(reads.at({101, read}).late, 0u) << int(read);
    }
    EXPECT_EQ(s.link.stats.meter(101).requests, 6u);
}

TEST(SerialLine, PortVanishesAndComesBack) {
    test::TempDir dir;
    const std::string link = dir.str() + "/com1";
    auto sim = std::make_unique<test::ChildProcess>(simulator(link, {"--meters", "1"}));
    ASSERT_TRUE(test::waitForPath(link));
    LinkOnPort s(link, "1");
    s.tick();
    s.tick();
    ASSERT_TRUE(s.board.answered(1));

    sim.reset(); // the far end is gone, as when an adapter is unplugged
    for (int i = 0; i < 3; ++i)
        s.tick();
    EXPECT_TRUE(s.port.lost());
    EXPECT_FALSE(s.port.isOpen());
    EXPECT_FALSE(s.board.answered(1));
    EXPECT_EQ(s.board.row(1), BoardRow{});

    sim = std::make_unique<test::ChildProcess>(simulator(link, {"--meters", "1"}));
    ASSERT_TRUE(test::waitForPath(link));
    for (int i = 0; i < 4; ++i)
        s.tick();
    EXPECT_TRUE(s.board.answered(1));
    EXPECT_FALSE(s.port.lost());
}

} // namespace
} // namespace mirv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
