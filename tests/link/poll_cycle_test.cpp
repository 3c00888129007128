#include "fake_serial_port.h"
#include "meter_link.h"
#include "read_answer.h"

#include <gtest/gtest.h>

#include <vector>

namespace mirv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes answerFrom(int address, float flow = 1.0f) {
    const ReadAnswer a = buildAnswer(static_cast<std::uint8_t>(address), {.flowRate = flow});
    return Bytes(a.begin(), a.end());
}

struct Station {
    test::FakeSerialPort port;
    ReadingsBoard board;
    MeterLink link{port, board};
    int decodedRows = 0;

    explicit Station(const std::string& meterCount) {
        link.meterCount = meterCount;
        port.bytesArrived = [this] { link.onBytesArrived(); };
        board.rowChanged = [this](int n) {
            if (!board.row(n)[StatusCell].empty())
                ++decodedRows;
        };
    }
    int polled() const { return port.written.back()[0]; }
};

TEST(PollCycle, AddressSequence) {
    const struct {
        const char* count;
        std::vector<int> addresses;
    } cases[] = {
        {"3", {1, 2, 3, 1, 2, 3, 1}},
        {"1", {1, 1, 1}},
        {"0", {1, 1, 1}},
        {"", {1, 1, 1}},
        {"abc", {1, 1, 1}},
        {"2.5", {1, 2, 3, 1, 2}},
        {"20", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 1, 2}},
    };
    for (const auto& c : cases) {
        Station s(c.count);
        std::vector<int> seen;
        for (std::size_t i = 0; i < c.addresses.size(); ++i) {
            s.link.onPollTick();
            seen.push_back(s.polled());
        }
        EXPECT_EQ(seen, c.addresses) << '"' << c.count << '"';
    }
}

// An address is one byte: a count above 255 polls 1..255 and starts again, and the board's
// meters still show their answers.
TEST(PollCycle, MeterCountAboveTheLastAddressWrapsAt255) {
    Station s("300");
    std::vector<int> seen;
    for (int i = 0; i < 257; ++i) {
        s.link.onPollTick();
        seen.push_back(s.polled());
        if (s.polled() == 20)
            s.port.receive(answerFrom(20, 20.0f));
    }
    EXPECT_EQ(seen[19], 20);
    EXPECT_EQ(seen[254], 255);
    EXPECT_EQ(seen[255], 1);
    EXPECT_EQ(seen[256], 2);
    EXPECT_EQ(s.board.row(20)[FlowRateCell], "20.0000");
    EXPECT_TRUE(s.board.answered(20));
}

// Traffic of another device with no request to empty the text: it never decodes and never
// grows past one answer's length, and the next request starts clean.
TEST(PollCycle, ForeignTrafficKeepsTheReceiveTextShort) {
    Station s("1");
    s.link.onPollTick();
    const Bytes noise(4096, 0x5A);
    for (int i = 0; i < 256; ++i) // 1 MiB
        s.port.receive(noise);
    EXPECT_LE(s.link.receivedHex.size(), 376u);
    EXPECT_EQ(s.decodedRows, 0);
    s.link.onPollTick();
    s.port.receive(answerFrom(1, 3.0f));
    EXPECT_EQ(s.board.row(1)[FlowRateCell], "3.0000");
}

// Once stopped, nothing goes out and nothing that arrives is shown.
TEST(PollCycle, StoppedLinkNeitherPollsNorDecodes) {
    Station s("2");
    s.link.onPollTick();
    s.port.receive(answerFrom(1));
    ASSERT_TRUE(s.board.answered(1));
    s.link.stop();
    EXPECT_EQ(s.board.row(1), BoardRow{});
    EXPECT_FALSE(s.board.answered(1));
    const std::size_t written = s.port.written.size();
    s.link.onPollTick();
    s.port.receive(answerFrom(2));
    EXPECT_EQ(s.port.written.size(), written);
    EXPECT_FALSE(s.board.answered(2));
    EXPECT_TRUE(s.port.inbox.empty()) << "arriving bytes are read and dropped";
}

TEST(PollCycle, TickFlushesBothBuffersThenSendsAndArmsTheReceiveSide) {
    Station s("2");
    s.port.writeSucceeds = false;
    s.link.receivedHex = "0103";
    s.link.receivedFrame = "0103";
    s.link.onPollTick();
    EXPECT_EQ(s.port.calls, (std::vector<std::string>{"flushOutput", "flushInput", "write"}));
    EXPECT_EQ(s.port.written.back(), (Bytes{0x01, 0x03, 0x00, 0x30, 0x00, 0x5B, 0x04, 0x3E}));
    // A failed write still leaves the meter waiting, so the next tick counts it as silent.
    EXPECT_TRUE(s.link.awaitingReply);
    EXPECT_EQ(s.link.receivedHex, "");
    EXPECT_EQ(s.link.receivedFrame, "");
}

TEST(PollCycle, AnswerInPiecesIsDecodedExactlyOnce) {
    for (std::size_t pieces : {1u, 2u, 187u}) {
        Station s("1");
        s.link.onPollTick();
        const Bytes answer = answerFrom(1, 12.5f);
        for (std::size_t i = 0; i < pieces; ++i) {
            const std::size_t from = answer.size() * i / pieces,
                              to = answer.size() * (i + 1) / pieces;
            s.port.receive(Bytes(answer.begin() + from, answer.begin() + to));
            EXPECT_EQ(s.decodedRows, i + 1 == pieces ? 1 : 0) << pieces << " pieces, piece " << i;
        }
        EXPECT_EQ(s.board.row(1)[FlowRateCell], "12.5000");
        EXPECT_FALSE(s.link.awaitingReply);
        EXPECT_EQ(s.link.receivedHex, "");
        s.link.onPollTick();
        EXPECT_EQ(s.board.row(1)[FlowRateCell], "12.5000") << "answered meter kept";
    }
}

TEST(PollCycle, FaultyAnswersBlankTheRowAtTheNextTick) {
    Bytes trailing = answerFrom(1);
    trailing.push_back(0x00);
    Bytes wrongCrc = answerFrom(1);
    wrongCrc[186] ^= 0x01;
    Bytes swappedCrc = answerFrom(1, 2.0f);
    ASSERT_NE(swappedCrc[185], swappedCrc[186]);
    std::swap(swappedCrc[185], swappedCrc[186]);
    const Bytes exception{0x01, 0x83, 0x02, 0xC0, 0xF1};
    const Bytes full = answerFrom(1);
    const Bytes shortAnswer(full.begin(), full.begin() + 100);
    const Bytes none;
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {{"trailing byte", trailing}, {"wrong CRC", wrongCrc}, {"swapped CRC", swappedCrc},
                 {"exception", exception},    {"short", shortAnswer},  {"silence", none}};
    for (const auto& c : cases) {
        Station s("1");
        s.link.onPollTick();
        s.port.receive(answerFrom(1));
        ASSERT_TRUE(s.board.answered(1));
        s.link.onPollTick();
        if (!c.bytes.empty())
            s.port.receive(c.bytes);
        if (c.bytes.size() == 187) { // a complete answer that fails its CRC still empties the text
            EXPECT_EQ(s.link.receivedHex, "") << c.name;
        }
        EXPECT_EQ(s.board.row(1)[StatusCell], "通讯正常") << c.name << ": shown until the tick";
        s.link.onPollTick();
        EXPECT_EQ(s.board.row(1), BoardRow{}) << c.name;
        EXPECT_FALSE(s.board.answered(1)) << c.name;
    }
}

TEST(PollCycle, NoMeterConnectedBlanksThePreviousMeterEveryTick) {
    Station s("3");
    s.link.onPollTick();
    EXPECT_TRUE(s.link.awaitingReply);
    std::vector<int> blanked;
    s.board.rowChanged = [&](int n) { blanked.push_back(n); };
    for (int i = 0; i < 4; ++i)
        s.link.onPollTick();
    EXPECT_EQ(blanked, (std::vector<int>{1, 2, 3, 1}));
}

// A late answer is real data for its own meter but says nothing about the polled one.
TEST(PollCycle, LateAnswerFillsItsRowButDoesNotSettleThePoll) {
    Station s("4");
    for (int i = 0; i < 4; ++i) // poll 1..4 with answers, so every row is filled
    {
        s.link.onPollTick();
        s.port.receive(answerFrom(s.polled()));
    }
    s.link.onPollTick(); // polls 1
    s.port.receive(answerFrom(1));
    s.link.onPollTick(); // polls 2: meter 1's answer is late and arrives now
    s.port.receive(answerFrom(1, 9.0f));
    EXPECT_EQ(s.board.row(1)[FlowRateCell], "9.0000");
    EXPECT_TRUE(s.board.answered(1));
    EXPECT_TRUE(s.link.awaitingReply);
    s.link.onPollTick(); // meter 2 never answered
    EXPECT_EQ(s.board.row(2), BoardRow{});
    EXPECT_FALSE(s.board.answered(2));
    EXPECT_TRUE(s.board.answered(1));
}

TEST(PollCycle, AnswerFromOutsideTheBoardChangesNothingAndSettlesNothing) {
    for (int address : {0, 21, 255}) {
        Station s("1");
        s.link.onPollTick();
        s.port.receive(answerFrom(1));
        s.link.onPollTick();
        s.port.receive(answerFrom(address));
        EXPECT_TRUE(s.link.awaitingReply) << address;
        EXPECT_EQ(s.board.row(1)[StatusCell], "通讯正常");
        s.link.onPollTick();
        EXPECT_EQ(s.board.row(1), BoardRow{}) << address;
    }
}

TEST(PollCycle, FirstTickBlanksNothing) {
    Station s("1");
    int changes = 0;
    s.board.rowChanged = [&](int) { ++changes; };
    s.link.onPollTick();
    EXPECT_EQ(changes, 0);
}

} // namespace
} // namespace mirv
