// The line's counters against the simulator over a pseudo-terminal: each meter misbehaves in
// one way, and what the counters say is checked against the simulator's own log.
#include "child_process.h"
#include "hand_made_answer.h"
#include "meter_link.h"
#include "qt_serial_port.h"
#include "read_answer.h"
#include "read_request.h"
#include "temp_dir.h"

#include <QCoreApplication>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>

namespace mirv {
namespace {

struct LinkOnPort {
    QtSerialPort port;
    ReadingsBoard board;
    MeterLink link{port, board};

    LinkOnPort(const std::string& device, const std::string& meters, int baud) {
        link.meterCount = meters;
        link.stats.setBaud(baud);
        port.bytesArrived = [this] { link.onBytesArrived(); };
        EXPECT_EQ(port.open(device), std::nullopt);
        EXPECT_EQ(port.setSettings(std::to_string(baud) + ",n,8,1"), std::nullopt);
    }
    void tick(int waitMs) {
        link.onPollTick();
        QTest::qWait(waitMs);
    }
};

// The simulator with its log on `log`, serving as `link`.
test::ChildProcess simulator(const std::string& link, const std::string& log,
                             const std::string& args) {
    return test::ChildProcess({"/bin/sh", "-c",
                               std::string("exec '") + MIRV_METER_SIM + "' --verbose --link '" +
                                   link + "' " + args + " 2>'" + log + "'"});
}

// Requests and answers by address, as the simulator logged them.
struct SimLog {
    std::map<int, int> requests, answers;
};

SimLog readLog(const std::string& path) {
    SimLog log;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string what, count, unit, first;
        words >> what >> count >> unit >> first;
        if (what == "request")
            ++log.requests[std::stoi(first, nullptr, 16)];
        else if (what == "answer")
            ++log.answers[std::stoi(first, nullptr, 16)];
    }
    return log;
}

TEST(LineStats, EachFaultCountsAsItMust) {
    test::TempDir dir;
    const std::string com = dir.str() + "/com1", logPath = dir.str() + "/sim.log";
    // Meter 7 answers after the next request has gone out; meter 9 answers as meter 99.
    auto sim = simulator(com, logPath,
                         "--meters 1-9 --fault 2:silent --fault 3:bad-crc --fault 4:short "
                         "--fault 5:trailing --fault 6:exception --fault 7:delay:400 "
                         "--fault 8:pieces:4:20 --fault 9:address:99");
    ASSERT_TRUE(test::waitForPath(com));
    LinkOnPort s(com, "9", 9600);
    for (int i = 0; i < 3 * 9; ++i)
        s.tick(250);
    s.link.stop(); // the last poll's slot is judged
    sim.stop();
    const SimLog log = readLog(logPath);

    enum Expect { Answered, Missed, Late };
    struct Case {
        int meter;
        Expect outcome;
        int cause; // the reject cause every answer of it gives, or -1
    };
    const Case cases[] = {
        {1, Answered, -1},
        {2, Missed, -1},
        {3, Missed, static_cast<int>(RejectCause::Crc)},
        {4, Missed, static_cast<int>(RejectCause::Short)},
        {5, Missed, static_cast<int>(RejectCause::Trailing)},
        {6, Missed, static_cast<int>(RejectCause::Function)},
        {7, Late, -1},
        {8, Answered, -1},
        {9, Missed, static_cast<int>(RejectCause::Address)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("meter " + std::to_string(c.meter));
        const MeterCounters& m = s.link.stats.meter(c.meter);
        const int requests = log.requests.at(c.meter);
        const int answeringAs = c.meter == 9 ? 99 : c.meter;
        const int answers = log.answers.count(answeringAs) ? log.answers.at(answeringAs) : 0;
        EXPECT_EQ(requests, 3);
        EXPECT_EQ(m.requests, static_cast<std::uint64_t>(requests));
        EXPECT_EQ(m.answers, c.outcome == Answered ? static_cast<std::uint64_t>(answers) : 0u);
        EXPECT_EQ(m.missed, c.outcome == Answered ? 0u : static_cast<std::uint64_t>(requests));
        EXPECT_EQ(m.consecutiveMisses, m.missed);
        EXPECT_EQ(m.late, c.outcome == Late ? static_cast<std::uint64_t>(answers) : 0u);
        for (int cause = 0; cause < kRejectCauses; ++cause)
            EXPECT_EQ(m.rejects[cause], cause == c.cause ? static_cast<std::uint64_t>(answers) : 0u)
                << "cause " << cause;
        EXPECT_EQ(m.strayBytes, 0u);
        EXPECT_EQ(m.lastException, c.meter == 6 ? 4 : 0);
    }
    EXPECT_EQ(s.link.stats.line().bytesOut, 27u * 8);
    EXPECT_EQ(s.link.stats.line().ticks, 27u);
}

// The response time is the answer's wire time and the meter's turnaround. A pseudo-terminal
// carries the request at once, so the simulator starts answering a request's wire time early.
TEST(LineStats, ResponseTimeFollowsTheLinesPace) {
    for (const int baud : {9600, 19200}) {
        SCOPED_TRACE(baud);
        test::TempDir dir;
        const std::string com = dir.str() + "/com1";
        auto sim = simulator(com, dir.str() + "/sim.log",
                             "--meters 1 --pace --turnaround 20 --baud " + std::to_string(baud));
        ASSERT_TRUE(test::waitForPath(com));
        LinkOnPort s(com, "1", baud);
        for (int i = 0; i < 6; ++i)
            s.tick(400);
        const MeterCounters& m = s.link.stats.meter(1);
        ASSERT_GE(m.answers, 5u);
        const double charUs = 10e6 / baud;
        const double expectedUs = 20000 + (187 - 8) * charUs;
        // The simulator writes in groups of 5 ms; the event loop adds its own latency.
        ASSERT_TRUE(m.responseMinUs && m.responseMaxUs && m.responseMeanUs());
        EXPECT_NEAR(static_cast<double>(*m.responseMinUs), expectedUs, 20000);
        EXPECT_LE(*m.responseMinUs, *m.responseMeanUs());
        EXPECT_LE(*m.responseMeanUs(), *m.responseMaxUs);
    }
}

// Meter 7's answer at 9600 baud (a request's wire time 8,333 us), its bytes coming as the
// line brings them. A line faster than the baud set brings the answer before the request
// could have left: the response is then timed from the answer's first byte, never below 0.
TEST(LineStats, ResponseTimeNeverNegativeAndTheMonitorKeepsOrder) {
    const std::vector<std::uint8_t> answer = test::handMadeAnswer();
    const struct {
        const char* name;
        std::int64_t firstUs, lastUs, responseUs;
    } cases[] = {
        {"at the pace set", 30'000, 225'000, 225'000 - 8'333},
        {"faster, whole", 500, 500, 0},
        {"faster, in two pieces", 300, 2'300, 2'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LineStats stats;
        stats.setBaud(9600);
        stats.requestSent(7, makeReadRequest(7), 0);
        stats.bytesReceived(std::span(answer).first(10), c.firstUs);
        stats.bytesReceived(std::span(answer).subspan(10), c.lastUs);
        stats.answerTaken(7, true, c.lastUs);
        const MeterCounters& m = stats.meter(7);
        EXPECT_EQ(m.responseLastUs, c.responseUs);
        EXPECT_EQ(m.responseMinUs, c.responseUs);
        EXPECT_EQ(m.responseMaxUs, c.responseUs);
        ASSERT_EQ(stats.frames().size(), 2u);
        EXPECT_TRUE(stats.frames().at(0).out);
        EXPECT_LE(stats.frames().at(0).wallUs, stats.frames().at(1).wallUs);
        const std::vector<HourTally> hour = stats.takeHour();
        ASSERT_EQ(hour.size(), 1u);
        EXPECT_EQ(hour[0].responseMaxUs, c.responseUs);
    }
}

// Counters copied while a slot is open (the link made again after a Save) count into the
// copy's own counters, also after the original is gone.
TEST(LineStats, ACopyCountsIntoItsOwnCounters) {
    auto original = std::make_unique<LineStats>();
    original->requestSent(3, makeReadRequest(3), 0);
    original->requestSent(4, makeReadRequest(4), 250'000);
    LineStats copy = *original;
    original.reset();
    const ReadAnswer late = buildAnswer(3, {});
    copy.bytesReceived(late, 260'000);
    copy.answerTaken(3, true, 260'000, true);
    const ReadAnswer answer = buildAnswer(4, {});
    copy.bytesReceived(answer, 300'000);
    copy.answerTaken(4, true, 300'000);
    copy.endSlot();
    EXPECT_EQ(copy.meter(3).late, 1u);
    EXPECT_EQ(copy.meter(4).answers, 1u);
}

// A meter that never answered has no response time: none in the counters, none in the hour.
TEST(LineStats, SilentMeterHasNoResponseTime) {
    LineStats stats;
    stats.setBaud(9600);
    stats.requestSent(3, makeReadRequest(3), 0);
    stats.requestSent(4, makeReadRequest(4), 250'000);
    stats.endSlot();
    EXPECT_FALSE(stats.meter(3).responseMaxUs);
    EXPECT_FALSE(stats.meter(3).responseMeanUs());
    const std::vector<HourTally> hour = stats.takeHour();
    ASSERT_EQ(hour.size(), 2u);
    for (const HourTally& t : hour) {
        EXPECT_EQ(t.missed, 1u);
        EXPECT_EQ(t.responseMaxUs, std::nullopt) << t.meter;
        EXPECT_EQ(t.responseMeanUs(), std::nullopt) << t.meter;
    }
}

// Ten minutes of another master's traffic at 9600 baud, polls going on: the monitor's ring
// keeps its 2,000 newest frames in the memory it took at the start.
TEST(LineStats, MonitorStaysBoundedUnderForeignTraffic) {
    LineStats stats;
    const std::size_t bytesAtStart = stats.frames().bytes();
    const std::vector<std::uint8_t> noise(48, 0x55); // 50 ms of the line
    std::int64_t nowUs = 0;
    const ReadRequest request = makeReadRequest(1);
    for (int i = 0; i < 10 * 60 * 20; ++i, nowUs += 50'000) {
        if (i % 6 == 0)
            stats.requestSent(1, request, nowUs);
        stats.bytesReceived(noise, nowUs);
    }
    EXPECT_EQ(stats.frames().size(), FrameRing::kCapacity);
    EXPECT_EQ(stats.frames().bytes(), bytesAtStart);
    EXPECT_LT(bytesAtStart, 4u << 20);
    EXPECT_EQ(stats.frames().at(FrameRing::kCapacity - 1).wallUs - stats.wallOffsetUs,
              11994 * 50'000); // the last request
    EXPECT_EQ(stats.line().bytesIn, 10u * 60 * 20 * 48);
    EXPECT_EQ(stats.meter(1).strayBytes, 10u * 60 * 20 * 48 - 6 * 48);
}

} // namespace
} // namespace mirv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
