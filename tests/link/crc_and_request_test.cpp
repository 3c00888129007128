#include "crc16.h"
#include "hand_made_answer.h"
#include "read_answer.h"
#include "read_request.h"

#include <gtest/gtest.h>

#include <vector>

namespace mirv {
namespace {

TEST(Crc16, ReturnsHighThenLowByte) {
    const std::vector<std::uint8_t> request{0x01, 0x03, 0x00, 0x30, 0x00, 0x5B};
    const auto crc = crc16(request);
    EXPECT_EQ(crc[0], 0x3E);
    EXPECT_EQ(crc[1], 0x04);
}

TEST(Crc16, OverAnAnswerGivesItsCrcBytesReversed) {
    const std::vector<std::uint8_t> answer = test::handMadeAnswer();
    const auto crc = crc16(std::span(answer).first(185));
    EXPECT_EQ(crc[0], 0xE0);
    EXPECT_EQ(crc[1], 0x18);
}

TEST(ReadRequest, FramesOfKnownAddresses) {
    const struct {
        std::uint8_t address;
        ReadRequest frame;
    } cases[] = {
        {1, {0x01, 0x03, 0x00, 0x30, 0x00, 0x5B, 0x04, 0x3E}},
        // Computed independently with the bitwise Modbus CRC.
        {2, {0x02, 0x03, 0x00, 0x30, 0x00, 0x5B, 0x04, 0x0D}},
        {20, {0x14, 0x03, 0x00, 0x30, 0x00, 0x5B, 0x06, 0xFB}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(makeReadRequest(c.address), c.frame) << int(c.address);
}

} // namespace
} // namespace mirv
