#include "compose_row.h"
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

// An answer that comes after the next request went out fills the row of the meter and read it
// answers, decoded with that read's profile; one that does not fit that read fills nothing.
TEST(PlannedPoll, LateAnswerFillsTheRowOfItsMeterAndRead) {
    const ReadAnswer meter17 = buildAnswer(17, {.flowRate = 2.0f});
    const Bytes late17(meter17.begin(), meter17.end());
    Bytes badCrc17 = late17;
    badCrc17.back() ^= 0x01;
    const BoardRow row2{"12.5000",    "1.5000",   "61.50", "40.50",
                        "123456.789", "0.500",    "3.500", "通讯正常,上限报警,空管报警",
                        "",           "1234.567", ""};
    const struct {
        const char* what;
        int silentTicks;            // ticks whose request goes unanswered before the late answer
        std::vector<Bytes> answers; // in the slot of the request after the silent one
        int row;
        BoardRow shown;
        std::uint64_t late; // counted for the silent read
        ReadKey silent;
    } cases[] = {
        {"meter 17, late, then 101's first read",
         1,
         {late17, answer(101, 0x03, kFirstBlock)},
         1,
         [&] {
             ReadingsBoard b;
             b.setRow(1, composeRow(readRegisterMap(meter17)));
             return b.row(1);
         }(),
         1,
         {17, 0}},
        {"101's first read, late, then its second",
         2,
         {answer(101, 0x03, kFirstBlock), answer(101, 0x03, kSecondBlock)},
         2,
         row2,
         1,
         {101, 0}},
        {"both in one piece",
         2,
         {[] {
             Bytes both = answer(101, 0x03, kFirstBlock);
             const Bytes second = answer(101, 0x03, kSecondBlock);
             both.insert(both.end(), second.begin(), second.end());
             return both;
         }()},
         2,
         row2,
         1,
         {101, 0}},
        {"a late answer the length of another read",
         1,
         {answer(17, 0x03, kFirstBlock)},
         1,
         {},
         0,
         {17, 0}},
        {"a late answer with a wrong CRC", 1, {badCrc17}, 1, {}, 0, {17, 0}},
        {"a late answer of function 04", 2, {answer(101, 0x04, kFirstBlock)}, 2, {}, 0, {101, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlannedStation s;
        s.link.onPollTick();
        if (c.silentTicks == 2) {
            s.port.receive(late17);
            s.link.onPollTick();
        }
        s.link.onPollTick();
        for (const Bytes& a : c.answers)
            s.port.receive(a);
        EXPECT_EQ(s.board.row(c.row), c.shown);
        EXPECT_EQ(s.board.answered(c.row), c.shown != BoardRow{});
        EXPECT_EQ(s.link.stats.reads().at(c.silent).late, c.late);
    }
}

// Each read counts on its own; the meter's counters are its reads together.
TEST(PlannedPoll, LineCountsEachRead) {
    PlannedStation s;
    for (int round = 0; round < 2; ++round) {
        s.link.onPollTick();
        const ReadAnswer a = buildAnswer(17, {});
        s.port.receive(Bytes(a.begin(), a.end()));
        s.link.onPollTick();
        s.port.receive(answer(101, 0x03, kFirstBlock));
        s.link.onPollTick();
    }
    s.link.stop();
    const auto& reads = s.link.stats.reads();
    EXPECT_EQ(reads.at({17, 0}).answers, 2u);
    EXPECT_EQ(reads.at({101, 0}).answers, 2u);
    EXPECT_EQ(reads.at({101, 1}).answers, 0u);
    EXPECT_EQ(reads.at({101, 1}).missed, 2u);
    const MeterCounters m = s.link.stats.meter(101);
    EXPECT_EQ(m.requests, 4u);
    EXPECT_EQ(m.answers, 2u);
    EXPECT_EQ(m.missed, 2u);
    const std::vector<PolledRead> polled = s.link.polledReads();
    ASSERT_EQ(polled.size(), 3u);
    EXPECT_EQ(polled[2].key, (ReadKey{101, 1}));
    EXPECT_EQ(polled[2].profile, "two-blocks");
    EXPECT_EQ(polled[2].read.first, 1000);
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

// A meter whose two reads answer alike: a late answer to one cannot be told from the other's on
// the wire, so it never puts its registers in the other's place.
TEST(PlannedPoll, LateAnswerLikeTheOtherReadsFillsNothing) {
    auto twin = std::make_shared<MeterProfile>();
    twin->name = "twin";
    twin->reads = {{0x03, 0, 2}, {0x03, 100, 2}};
    ValueSource flow;
    flow.decimals = 4;
    ValueSource velocity = flow;
    velocity.read = 1;
    twin->values[FlowRateCell] = flow;
    twin->values[FlowSpeedCell] = velocity;
    test::FakeSerialPort port;
    ReadingsBoard board;
    MeterLink link{port, board};
    port.bytesArrived = [&] { link.onBytesArrived(); };
    link.meterCount = "1";
    link.setPlan({{1, 5, twin}});
    const Bytes one{0x3F, 0x80, 0, 0}, nine{0x41, 0x10, 0, 0}, two{0x40, 0, 0, 0};
    link.onPollTick(); // first read
    port.receive(answer(5, 0x03, one));
    link.onPollTick(); // second read: silent
    link.onPollTick(); // first read again; the second's answer comes late
    port.receive(answer(5, 0x03, nine));
    link.onPollTick(); // second read
    port.receive(answer(5, 0x03, two));
    EXPECT_NE(board.row(1)[FlowRateCell], "9.0000");
    EXPECT_EQ(board.row(1), BoardRow{});
}

} // namespace
} // namespace mirv
