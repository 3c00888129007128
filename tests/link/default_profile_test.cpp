#include "compose_row.h"
#include "hand_made_answer.h"
#include "meter_profile_file.h"
#include "profile_decoder.h"
#include "read_answer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace mirv {
namespace {

using Bytes = std::vector<std::uint8_t>;

MeterProfile defaultProfile() {
    const ProfileResult r = findMeterProfile(MIRV_PROFILES_DIR, "default");
    EXPECT_EQ(r.error, "");
    return r.profile.value_or(MeterProfile{});
}

// The old decoder's row and the profile's for one 187-byte answer.
void expectSameRow(const MeterProfile& profile, const Bytes& bytes, const std::string& what) {
    ASSERT_EQ(bytes.size(), kAnswerBytes);
    ReadAnswer answer;
    std::copy(bytes.begin(), bytes.end(), answer.begin());
    const ReadData data[] = {ReadData(bytes).subspan(3, 2 * kRegisterCount)};
    EXPECT_EQ(decodeWithProfile(profile, data), composeRow(readRegisterMap(answer))) << what;
}

// Register 0x30 + offset gets `bytes`; every other byte of the answer is 0.
struct Patch {
    int offset;
    Bytes bytes;
};

Bytes answerWith(const std::vector<Patch>& patches) {
    Bytes a(kAnswerBytes, 0x00);
    a[0] = 0x01;
    a[1] = 0x03;
    a[2] = 0xB6;
    for (const Patch& p : patches)
        std::copy(p.bytes.begin(), p.bytes.end(), a.begin() + 3 + 2 * p.offset);
    return a;
}

TEST(DefaultProfile, RecordedAnswersShowAsTheOldDecoderShowsThem) {
    const MeterProfile profile = defaultProfile();
    Bytes handMade = test::handMadeAnswer();
    const struct {
        const char* what;
        Bytes answer;
    } cases[] = {
        {"good, with filler", handMade},
        {"all zero", answerWith({})},
        {"every alarm",
         answerWith({{13, {0, 1}}, {14, {0, 1}}, {15, {0, 1}}, {16, {0, 1}}, {17, {0, 1}}})},
        {"alarm values not 1",
         answerWith({{13, {0, 2}}, {14, {0xFF, 0xFF}}, {15, {1, 1}}, {16, {1, 0}}})},
        {"non-finite readings", answerWith({{0, {0x7F, 0xC0, 0, 0}},
                                            {18, {0x7F, 0x80, 0, 0}},
                                            {53, {0xFF, 0x80, 0, 0}},
                                            {55, {0xFF, 0xC0, 0, 0}}})},
        {"temperature 300 and 299.996",
         answerWith({{32, {0x43, 0x96, 0, 0}}, {40, {0x43, 0x95, 0xFF, 0x7D}}})},
        {"temperature -0 and -0.01",
         answerWith({{32, {0x80, 0, 0, 0}}, {40, {0xBC, 0x23, 0xD7, 0x0A}}})},
        {"largest totals", answerWith({{3, {0xFF, 0xFF, 0xFF, 0xFF}},
                                       {5, {0x3F, 0x7D, 0x70, 0xA4}},
                                       {58, {0xFF, 0xFF, 0xFF, 0xFF}},
                                       {60, {0xFF, 0xFF, 0xFF, 0xFF}},
                                       {64, {0x3B, 0x9A, 0xC9, 0xFF}},
                                       {66, {0xFF, 0xFF, 0xFF, 0xFF}},
                                       {68, {0x3F, 0x7D, 0x70, 0xA4}}})},
        {"fractions: NaN, 1e30, -0.5, 0.0049999", answerWith({{5, {0x7F, 0xC0, 0, 0}},
                                                              {10, {0x71, 0x49, 0xF2, 0xCA}},
                                                              {62, {0xBF, 0, 0, 0}},
                                                              {68, {0x3B, 0xA3, 0xD6, 0x33}}})},
        {"huge and subnormal floats", answerWith({{0, {0x7F, 0x7F, 0xC9, 0x9E}},
                                                  {18, {0x00, 0x01, 0x16, 0xC2}},
                                                  {53, {0xFF, 0x7F, 0xC9, 0x9E}},
                                                  {55, {0x80, 0x01, 0x16, 0xC2}}})},
        {"ordinary", answerWith({{0, {0x41, 0x45, 0x87, 0xDD}},
                                 {32, {0x41, 0xAC, 0, 0}},
                                 {8, {0, 0, 0x03, 0xE8}},
                                 {10, {0x3E, 0, 0, 0}}})},
    };
    for (const auto& c : cases)
        expectSameRow(profile, c.answer, c.what);
}

// Random register contents, half of them floats near the interesting ranges.
TEST(DefaultProfile, RandomAnswersShowAsTheOldDecoderShowsThem) {
    const MeterProfile profile = defaultProfile();
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_real_distribution<float> plausible(-400.0f, 400.0f);
    for (int round = 0; round < 5000; ++round) {
        Bytes a = answerWith({});
        for (std::size_t i = 3; i < kAnswerBytes - 2; ++i)
            a[i] = static_cast<std::uint8_t>(byte(random));
        if (round % 2 == 0)
            for (int offset : {0, 5, 10, 18, 32, 40, 53, 55, 62, 68}) {
                const auto bits = std::bit_cast<std::uint32_t>(plausible(random));
                for (int k = 0; k < 4; ++k)
                    a[3 + 2 * offset + k] = static_cast<std::uint8_t>(bits >> (24 - 8 * k));
            }
        if (round % 3 == 0)
            for (int offset = 13; offset <= 17; ++offset)
                a[3 + 2 * offset] = 0,
                          a[4 + 2 * offset] = static_cast<std::uint8_t>(byte(random) % 3);
        expectSameRow(profile, a, "round " + std::to_string(round));
    }
}

} // namespace
} // namespace mirv
