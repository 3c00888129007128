#include "crc16.h"
#include "fake_serial_port.h"
#include "meter_link.h"
#include "meter_profile_file.h"
#include "polled_meters.h"
#include "read_answer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace mirv {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::shared_ptr<const MeterProfile> profile(const char* name) {
    auto r = findMeterProfile(MIRV_PROFILES_DIR, name);
    EXPECT_EQ(r.error, "");
    return std::make_shared<const MeterProfile>(r.profile.value_or(MeterProfile{}));
}

// A whole answer: address, function, byte count, the registers, the CRC.
Bytes answer(std::uint8_t address, std::uint8_t function, const Bytes& registers) {
    Bytes a{address, function, static_cast<std::uint8_t>(registers.size())};
    a.insert(a.end(), registers.begin(), registers.end());
    const auto crc = crc16(a);
    a.push_back(crc[1]);
    a.push_back(crc[0]);
    return a;
}

const Bytes kFirstBlock{0x41, 0x48, 0, 0, 0x3F, 0xC0, 0, 0, 0x5B, 0x07,
                        0x15, 0xCD, 0, 0, 0xF4, 0x01, 0, 0, 0,    0};
const Bytes kSecondBlock{0,    0,    0,    0,    0,    0x12, 0xD6, 0x87, 0x02,
                         0x67, 0x01, 0x95, 0x00, 0xC0, 0x5A, 0x45, 0x80, 0x08};

// Row 1 at address 17 with the default profile, row 2 at 101 with two reads.
struct PlannedStation {
    test::FakeSerialPort port;
    ReadingsBoard board;
    MeterLink link{port, board};

    PlannedStation() {
        port.bytesArrived = [this] { link.onBytesArrived(); };
        link.meterCount = "2";
        link.setPlan({{1, 17, profile("default")}, {2, 101, profile("two-blocks")}});
    }
};

TEST(PlannedPoll, OneReadATickAtTheMetersOwnAddresses) {
    PlannedStation s;
    for (int i = 0; i < 4; ++i)
        s.link.onPollTick();
    const std::vector<Bytes> expected{
        {0x11, 0x03, 0x00, 0x30, 0x00, 0x5B, 0x06, 0xAE},
        {0x65, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xCD, 0xE9},
        {0x65, 0x03, 0x03, 0xE8, 0x00, 0x09, 0x0D, 0x98},
        {0x11, 0x03, 0x00, 0x30, 0x00, 0x5B, 0x06, 0xAE},
    };
    EXPECT_EQ(s.port.written, expected);
}

TEST(PlannedPoll, RowShowsOnceEveryReadOfTheRoundWasAnswered) {
    PlannedStation s;
    s.link.onPollTick();
    const ReadAnswer a = buildAnswer(17, {.flowRate = 2.0f});
    s.port.receive(Bytes(a.begin(), a.end()));
    EXPECT_EQ(s.board.row(1)[FlowRateCell], "2.0000");
    EXPECT_TRUE(s.board.answered(1));
    s.link.onPollTick();
    s.port.receive(answer(101, 0x03, kFirstBlock));
    EXPECT_FALSE(s.board.answered(2));
    s.link.onPollTick();
    s.port.receive(answer(101, 0x03, kSecondBlock));
    EXPECT_EQ(s.board.row(2),
              (BoardRow{"12.5000", "1.5000", "61.50", "40.50", "123456.789", "0.500", "3.500",
                        "通讯正常,上限报警,空管报警", "", "1234.567", ""}));
    EXPECT_TRUE(s.board.answered(2));
    EXPECT_TRUE(s.board.answered(1));
}

// Answers that do not fit the read asked are bad answers: the row is emptied at the next tick
// and a later read of the same round does not make a row either.
TEST(PlannedPoll, AnswerNotFittingItsReadIsABadAnswer) {
    Bytes shortBlock = kFirstBlock;
    shortBlock.pop_back();
    Bytes longBlock = kFirstBlock;
    longBlock.push_back(0);
    Bytes trailing = answer(101, 0x03, kFirstBlock);
    trailing.push_back(0);
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"one register byte short", answer(101, 0x03, shortBlock)},
        {"one register byte long", answer(101, 0x03, longBlock)},
        {"trailing byte", trailing},
        {"function 04", answer(101, 0x04, kFirstBlock)},
        {"other address", answer(102, 0x03, kFirstBlock)},
        {"exception", {0x65, 0x83, 0x02, 0xC1, 0x34}},
        {"a default answer",
         [] {
             const ReadAnswer a = buildAnswer(101, {});
             return Bytes(a.begin(), a.end());
         }()},
    };
    for (const auto& c : cases) {
        PlannedStation s;
        s.link.onPollTick();
        s.link.onPollTick();
        s.port.receive(c.bytes);
        EXPECT_TRUE(s.link.awaitingReply) << c.what;
        s.link.onPollTick();
        s.port.receive(answer(101, 0x03, kSecondBlock));
        s.link.onPollTick();
        EXPECT_EQ(s.board.row(2), BoardRow{}) << c.what;
        EXPECT_FALSE(s.board.answered(2)) << c.what;
    }
}

// Another meter's answer of the same length does not hide the polled meter's behind it.
TEST(PlannedPoll, AnswerBehindAnotherMetersIsTaken) {
    PlannedStation s;
    s.link.onPollTick();
    s.link.onPollTick();
    s.port.receive(answer(17, 0x03, kFirstBlock));
    EXPECT_TRUE(s.link.awaitingReply);
    s.port.receive(answer(101, 0x03, kFirstBlock));
    EXPECT_FALSE(s.link.awaitingReply);
}

// A row whose profile cannot be read is left out, named; the others are polled.
TEST(PlannedPoll, PlanWithABadProfileStillPollsTheOthers) {
    MeterPlan plan = rowNumberPlan(4);
    plan.meters[1].profile = "absent";
    plan.meters[2].polled = false;
    plan.meters[3].address = 200;
    std::vector<std::string> refusals;
    const std::vector<PolledMeter> polled = polledMeters(plan, MIRV_PROFILES_DIR, refusals);
    ASSERT_EQ(polled.size(), 2u);
    EXPECT_EQ(polled[0].row, 1);
    EXPECT_EQ(polled[1].row, 4);
    EXPECT_EQ(polled[1].address, 200);
    EXPECT_EQ(polled[0].profile, polled[1].profile) << "read once, shared";
    EXPECT_EQ(refusals, std::vector<std::string>{"Meters row 2: " MIRV_PROFILES_DIR
                                                 "/absent.json:0: cannot be read"});
}

} // namespace
} // namespace mirv
