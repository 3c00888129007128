#include "control.h"
#include "crc16.h"
#include "meter_profile_file.h"
#include "profile_decoder.h"
#include "read_answer.h"
#include "read_request.h"
#include "responder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace mirv::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Options withFault(int meter, Fault fault) {
    Options o;
    o.link = "unused";
    o.meters = {1, 2};
    o.faults[meter] = fault;
    return o;
}

Bytes joined(const std::vector<Chunk>& chunks) {
    Bytes all;
    for (const auto& c : chunks)
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

TEST(MeterSim, AnswersAndMisbehavesAsAsked) {
    const ReadRequest request = makeReadRequest(1);
    const struct {
        const char* name;
        Fault fault;
        std::size_t bytes;
        bool crcOk;
        std::size_t chunks;
    } cases[] = {
        {"normal", {}, 187, true, 1},
        {"silent", {Fault::Silent}, 0, false, 0},
        {"bad CRC", {Fault::BadCrc}, 187, false, 1},
        {"short", {Fault::Short}, 100, false, 1},
        {"trailing", {Fault::Trailing}, 188, false, 1},
        {"exception", {Fault::Exception}, 5, false, 1},
        {"delay", {Fault::Delay, 300}, 187, true, 1},
        {"pieces", {Fault::Pieces, 0, 4, 20}, 187, true, 4},
        {"corrupt every answer", {Fault::CorruptEvery, 0, 1, 0, 0, 1}, 187, false, 1},
    };
    for (const auto& c : cases) {
        const Options options = withFault(1, c.fault);
        Responder responder(options);
        const auto chunks = responder.feed(request, 10.0);
        ASSERT_EQ(chunks.size(), c.chunks) << c.name;
        const Bytes all = joined(chunks);
        EXPECT_EQ(all.size(), c.bytes) << c.name;
        if (c.bytes == 187) {
            ReadAnswer a;
            std::copy(all.begin(), all.end(), a.begin());
            EXPECT_EQ(answerCrcMatches(a), c.crcOk) << c.name;
            EXPECT_EQ(a[0], 1);
        }
        if (c.fault.kind == Fault::Delay) {
            EXPECT_DOUBLE_EQ(chunks[0].dueSeconds, 10.3);
        }
        if (c.fault.kind == Fault::Pieces) {
            EXPECT_DOUBLE_EQ(chunks[3].dueSeconds, 10.06);
        }
        if (c.fault.kind == Fault::Exception) {
            EXPECT_EQ(all[1], 0x83);
        }
    }
}

TEST(MeterSim, AnswersOnlyItsMetersAndFindsRequestsInNoise) {
    Options options;
    options.link = "unused";
    options.meters = {2};
    Responder responder(options);
    EXPECT_TRUE(responder.feed(makeReadRequest(1), 0).empty());
    Bytes noisy{0xFF, 0x00, 0x13};
    const ReadRequest r = makeReadRequest(2);
    noisy.insert(noisy.end(), r.begin(), r.begin() + 5); // a request split across reads
    EXPECT_TRUE(responder.feed(noisy, 0).empty());
    const auto chunks = responder.feed(Bytes(r.begin() + 5, r.end()), 0);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes[0], 2);
}

TEST(MeterSim, TotalsGrowAndAlarmsShow) {
    Options options;
    options.link = "unused";
    options.alarms[1] = ExciteAlarmBit | LowerAlarmBit;
    Responder responder(options);
    auto registersAt = [&](double t) {
        const Bytes all = joined(responder.feed(makeReadRequest(1), t));
        ReadAnswer a;
        std::copy(all.begin(), all.end(), a.begin());
        return readRegisterMap(a);
    };
    const RegisterMap first = registersAt(0);
    const RegisterMap later = registersAt(3600);
    EXPECT_GT(later.forwardInt + later.forwardFrac, first.forwardInt + first.forwardFrac);
    EXPECT_EQ(later.exciteAlarm, 1);
    EXPECT_EQ(later.lowerAlarm, 1);
    EXPECT_EQ(later.upperAlarm, 0);
}

// Control lines change a meter while the simulator runs; a line it does not understand, or one
// naming a meter it does not answer for, changes nothing.
TEST(MeterSim, ControlLinesSilenceAndRaiseAlarms) {
    Options options;
    options.link = "unused";
    options.meters = {1, 2};
    options.faults[2] = {Fault::Delay, 10};
    Responder responder(options);
    // Meter 1's answer: its size, and its upper and lower flags (0 without an answer).
    auto poll = [&](int meter) {
        const Bytes all = joined(responder.feed(makeReadRequest(meter), 1.0));
        if (all.size() != 187)
            return std::tuple(all.size(), -1, -1);
        ReadAnswer a;
        std::copy(all.begin(), all.end(), a.begin());
        const RegisterMap m = readRegisterMap(a);
        return std::tuple(all.size(), int{m.upperAlarm}, int{m.lowerAlarm});
    };
    const struct {
        const char* line;
        bool understood;
        int meter;
        std::tuple<std::size_t, int, int> answer;
    } steps[] = {
        {"silent 1", true, 1, {0, -1, -1}},      {"silent 3", false, 2, {187, 0, 0}},
        {"answer 1", true, 1, {187, 0, 0}},      {"silent 2", true, 2, {0, -1, -1}},
        {"answer 2", true, 2, {187, 0, 0}},      {"alarm 1:upper+lower", true, 1, {187, 1, 1}},
        {"alarm 1:lower", true, 1, {187, 0, 1}}, {"alarm 1:bogus", false, 1, {187, 0, 1}},
        {"alarm 1:none", true, 1, {187, 0, 0}},  {"alarm 7:upper", false, 1, {187, 0, 0}},
        {"silent", false, 1, {187, 0, 0}},       {"silent 1x", false, 1, {187, 0, 0}},
        {"mute 1", false, 1, {187, 0, 0}},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(applyControlLine(s.line, responder), s.understood) << s.line;
        EXPECT_EQ(poll(s.meter), s.answer) << s.line;
    }
}

// At 9600 baud the 187 bytes take 194.8 ms; with a 20 ms turnaround the last byte is through
// 214.8 ms after the request, and the bytes go out in small groups along the way.
TEST(MeterSim, PacedAnswerTakesItsWireTime) {
    Options options;
    options.link = "unused";
    options.pace = true;
    options.turnaroundMs = 20;
    Responder responder(options);
    const auto chunks = responder.feed(makeReadRequest(1), 10.0);
    EXPECT_EQ(joined(chunks).size(), 187u);
    ASSERT_GE(chunks.size(), 30u);
    EXPECT_NEAR(chunks.front().dueSeconds, 10.020, 0.006);
    EXPECT_NEAR(chunks.back().dueSeconds, 10.2148, 0.0001);
    for (std::size_t i = 1; i < chunks.size(); ++i)
        EXPECT_GT(chunks[i].dueSeconds, chunks[i - 1].dueSeconds);
}

TEST(MeterSim, CommandLine) {
    const struct {
        std::vector<const char*> args;
        bool ok;
    } cases[] = {
        {{"--link", "/x", "--meters", "1-3,5"}, true},
        {{"--port", "/dev/ttyUSB0", "--fault", "2:pieces:3:10", "--alarm", "1:excite+upper"}, true},
        {{"--meters", "1"}, false},
        {{"--link", "/x", "--port", "/y"}, false},
        {{"--link", "/x", "--fault", "2:sometimes"}, false},
        {{"--link", "/x", "--meters", "0"}, false},
        {{"--link", "/x", "--alarm", "1:fire"}, false},
        {{"--link", "/x", "--baud", "14400", "--pace", "--turnaround", "20"}, true},
        {{"--port", "/dev/ttyUSB0", "--baud", "600"}, true},
        {{"--link", "/x", "--baud", "38400"}, false},
        {{"--link", "/x", "--baud", "9600x"}, false},
        {{"--link", "/x", "--turnaround", "-1"}, false},
        {{"--link", "/x", "--turnaround", "2O"}, false},
        {{"--tcp-listen", "127.0.0.1:1502"}, true},
        {{"--modbus-tcp-listen", "[::1]:502", "--link", "/x", "--fault", "1:hang-up"}, true},
        {{"--tcp-listen", "127.0.0.1"}, false},
        {{"--modbus-tcp-listen", "localhost:70000"}, false},
        {{"--tcp-listen", "localhost:http"}, false},
        {{"--link", "/x", "--unknown"}, false},
        {{"--link", "/x", "--meter", "17:two-blocks", "--meter", "3", "--meters", "1-2"}, true},
        {{"--link", "/x", "--meter", "248"}, false},
        {{"--link", "/x", "--meter", "0:default"}, false},
        {{"--link", "/x", "--meter", "5:absent"}, false},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv{const_cast<char*>("meter-sim")};
        for (const char* a : c.args)
            argv.push_back(const_cast<char*>(a));
        const CommandLine parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(parsed.options.has_value(), c.ok) << c.args[0] << " " << parsed.error;
        EXPECT_EQ(parsed.error.empty(), c.ok) << c.args[0];
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
    }
}

// A meter given by profile answers each of its reads, and the answers decoded by the profile
// show the simulated readings, moving with time.
TEST(MeterSim, ProfileMetersAnswerTheirReads) {
    for (const char* name : {"default", "float32-cdab-input", "int32-scaled-gj", "two-blocks"}) {
        std::vector<const char*> argv{"meter-sim", "--link", "/x", "--meter", "17"};
        const std::string meter = std::string("17:") + name;
        argv.back() = meter.c_str();
        const CommandLine parsed =
            parseCommandLine(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->meters, std::set<int>{17});
        const MeterProfile& profile = *parsed.options->profiles.at(17);
        Responder responder(*parsed.options);
        auto rowAt = [&](double t) {
            std::vector<Bytes> answers;
            for (const RegisterRead& r : profile.reads) {
                const Bytes a =
                    joined(responder.feed(makeReadRequest(17, r.function, r.first, r.count), t));
                EXPECT_EQ(a.size(), 5u + 2 * r.count) << name;
                answers.emplace_back(a.begin() + 3, a.end() - 2);
            }
            const std::vector<ReadData> data(answers.begin(), answers.end());
            return decodeWithProfile(profile, data);
        };
        const BoardRow first = rowAt(0), later = rowAt(3600);
        // The model's flow at address 17 and time 0: 10 + 17 + 2 sin(17).
        EXPECT_NEAR(std::stod(first[FlowRateCell]), 27 + 2 * std::sin(17.0), 0.01) << name;
        EXPECT_GT(std::stod(later[ForwardTotalCell]), std::stod(first[ForwardTotalCell])) << name;
        EXPECT_NE(later[HeatTotalCell], first[HeatTotalCell]) << name;
        EXPECT_EQ(first[StatusCell], "通讯正常") << name;
        const RegisterRead& r = profile.reads.back();
        const Bytes outside = joined(responder.feed(
            makeReadRequest(17, r.function, static_cast<std::uint16_t>(r.first + 1), r.count), 0));
        EXPECT_EQ(outside.size(), 5u) << name << ": an exception answer";
    }
}

} // namespace
} // namespace mirv::sim
