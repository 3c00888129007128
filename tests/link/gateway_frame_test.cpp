#include "gateway_address.h"
#include "hand_made_answer.h"
#include "modbus_tcp_frame.h"
#include "read_request.h"
#include "temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace mirv {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(GatewayAddress, ReadsBothFormsAndNothingElse) {
    using G = GatewayAddress;
    const struct {
        const char* line;
        std::optional<G> address;
    } cases[] = {
        {"tcp://192.168.1.20:4001", G{G::RtuOverTcp, "192.168.1.20", 4001}},
        {"modbus-tcp://gw-3.plant.lan:502\r", G{G::ModbusTcp, "gw-3.plant.lan", 502}},
        {"  modbus-tcp://[fe80::1]:1502 ", G{G::ModbusTcp, "fe80::1", 1502}},
        {"tcp://10.0.0.1:65535", G{G::RtuOverTcp, "10.0.0.1", 65535}},
        {"tcp://10.0.0.1:0", std::nullopt},
        {"tcp://10.0.0.1:65536", std::nullopt},
        {"tcp://10.0.0.1", std::nullopt},
        {"tcp://:502", std::nullopt},
        {"tcp://fe80::1:502", std::nullopt},
        {"udp://10.0.0.1:502", std::nullopt},
        {"TCP://10.0.0.1:502", std::nullopt},
        {"tcp://10.0.0.1:502x", std::nullopt},
        {"tcp://10.0.0.1 :502", std::nullopt},
        {"tcp://a/b:502", std::nullopt},
        {"/dev/ttyUSB0", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseGatewayLine(c.line), c.address) << c.line;
}

TEST(GatewayAddress, PortFileNamesTheGatewayOrItsBadLine) {
    test::TempDir dir;
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir.path() / name) << text;
        return (dir.path() / name).string();
    };
    const PortFile good = readPortFile(write("com1", "modbus-tcp://127.0.0.1:1502\nnotes\n"));
    ASSERT_TRUE(good.gateway);
    EXPECT_EQ(good.gateway->port, 1502);
    EXPECT_FALSE(good.failure);

    const std::string bad = write("com2", "tcp//10.0.0.5:4001\n");
    const PortFile badFile = readPortFile(bad);
    EXPECT_FALSE(badFile.gateway);
    ASSERT_TRUE(badFile.failure);
    EXPECT_NE(badFile.failure->find(bad), std::string::npos) << *badFile.failure;
    EXPECT_NE(badFile.failure->find("\"tcp//10.0.0.5:4001\""), std::string::npos);

    // A device, or a link to one, is a serial port.
    const PortFile device = readPortFile("/dev/null");
    EXPECT_FALSE(device.gateway);
    EXPECT_FALSE(device.failure);
    const PortFile missing = readPortFile((dir.path() / "com9").string());
    EXPECT_FALSE(missing.gateway || missing.failure);
}

TEST(ModbusTcp, RequestCarriesTheReadWithTransactionAndUnit) {
    const ReadRequest rtu = makeReadRequest(7);
    const Bytes expected{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x07, 0x03, 0x00, 0x30, 0x00, 0x5B};
    EXPECT_EQ(modbusTcpRequest(0x1234, rtu), expected);
}

// The hand-made answer of meter 7 as Modbus TCP: the header, then unit and PDU without CRC.
Bytes inModbusTcp(std::uint16_t transaction, Bytes rtu) {
    rtu.resize(rtu.size() - 2);
    Bytes out{static_cast<std::uint8_t>(transaction >> 8),
              static_cast<std::uint8_t>(transaction & 0xFF),
              0,
              0,
              static_cast<std::uint8_t>(rtu.size() >> 8),
              static_cast<std::uint8_t>(rtu.size() & 0xFF)};
    out.insert(out.end(), rtu.begin(), rtu.end());
    return out;
}

TEST(ModbusTcp, AcceptsOnlyTheAwaitedTransactionWhole) {
    const Bytes rtu = test::handMadeAnswer();
    const Bytes good = inModbusTcp(9, rtu);
    Bytes shortened = inModbusTcp(9, Bytes(rtu.begin(), rtu.begin() + 120));
    Bytes badCount = good;
    badCount[8] = 0xB4;
    const Bytes exception{0x00, 0x09, 0x00, 0x00, 0x00, 0x03, 0x07, 0x83, 0x04};
    const Bytes rtuException{0x07, 0x83, 0x04, 0xA0, 0xF2}; // CRC worked out apart
    const struct {
        const char* name;
        std::vector<Bytes> pieces;
        Bytes out;
        bool inStep;
    } cases[] = {
        {"whole", {good}, rtu, true},
        {"in pieces",
         {Bytes(good.begin(), good.begin() + 3), Bytes(good.begin() + 3, good.begin() + 100),
          Bytes(good.begin() + 100, good.end())},
         rtu,
         true},
        {"another transaction first", {inModbusTcp(8, rtu), good}, rtu, true},
        {"another transaction only", {inModbusTcp(10, rtu)}, {}, true},
        {"too short", {shortened}, {}, true},
        {"byte count wrong", {badCount}, {}, true},
        {"exception", {exception}, rtuException, true},
        {"answered twice", {good, good}, rtu, true},
        {"another function", {inModbusTcp(9, test::handMadeAnswer(0x04))}, {}, true},
        {"another function's exception",
         {{0x00, 0x09, 0x00, 0x00, 0x00, 0x03, 0x07, 0x84, 0x04}},
         {},
         true},
        {"not Modbus TCP", {{0x00, 0x09, 0x00, 0x01, 0x00, 0x06, 0x07}}, {}, false},
        {"length beyond any PDU", {{0x00, 0x09, 0x00, 0x00, 0x01, 0x00, 0x07}}, {}, false},
    };
    for (const auto& c : cases) {
        ModbusTcpAnswers answers;
        answers.expect(9, 0x03, kAnswerBytes);
        Bytes out;
        bool inStep = true;
        for (const Bytes& piece : c.pieces)
            inStep = answers.feed(piece, out) && inStep;
        EXPECT_EQ(out, c.out) << c.name;
        EXPECT_EQ(inStep, c.inStep) << c.name;
    }
}

// Every length field that cannot frame an answer, each in a buffer that ends where its frame
// ends, so that a byte read past it shows: dropped and counted, the stream given up where the
// length cannot be a frame's.
TEST(ModbusTcp, LengthsNoAnswerHasAreDroppedWithoutReadingPast) {
    const struct {
        Bytes frame;
        bool inStep;
    } cases[] = {
        {{0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x07}, false},
        {{0x00, 0x09, 0x00, 0x00, 0x00, 0x01, 0x07}, false},
        {{0x00, 0x09, 0x00, 0x00, 0x00, 0x02, 0x07, 0x03}, true},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x01, 0x03}, true},
        {{0x00, 0x09, 0x00, 0x00, 0x00, 0x03, 0x07, 0x03, 0x00}, true},
    };
    for (const auto& c : cases) {
        ModbusTcpAnswers answers;
        answers.expect(9, 0x03, kAnswerBytes);
        Bytes out;
        EXPECT_EQ(answers.feed(c.frame, out), c.inStep) << c.frame.size();
        EXPECT_TRUE(out.empty()) << c.frame.size();
        EXPECT_EQ(answers.dropped(), 1u) << c.frame.size();
    }
    // 254 is the longest: unit, function, byte count 251 and 251 bytes; of any length it is
    // taken, of the read's it is not.
    Bytes longest{0x00, 0x09, 0x00, 0x00, 0x00, 0xFE, 0x07, 0x03, 0xFB};
    longest.resize(6 + 254, 0x5A);
    for (const std::size_t wanted : {std::size_t{0}, kAnswerBytes}) {
        ModbusTcpAnswers answers;
        answers.expect(9, 0x03, wanted);
        Bytes out;
        EXPECT_TRUE(answers.feed(longest, out));
        EXPECT_EQ(out.size(), wanted == 0 ? 256u : 0u);
        EXPECT_EQ(answers.dropped(), wanted == 0 ? 0u : 1u);
    }
    for (unsigned length = 255; length <= 0xFFFF; ++length) {
        ModbusTcpAnswers answers;
        answers.expect(9, 0x03, 0);
        const Bytes header{0x00,
                           0x09,
                           0x00,
                           0x00,
                           static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length & 0xFF),
                           0x07};
        Bytes out;
        ASSERT_FALSE(answers.feed(header, out)) << length;
        ASSERT_TRUE(out.empty()) << length;
        ASSERT_EQ(answers.dropped(), 1u) << length;
    }
}

} // namespace
} // namespace mirv
