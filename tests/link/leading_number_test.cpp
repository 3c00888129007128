#include "leading_number.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

TEST(LeadingNumber, ReadsTheNumberATextStartsWith) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"3", 3},       {"20", 20}, {"", 0},     {"abc", 0},  {"2.5", 2.5},  {" 12", 12},
        {"12 min", 12}, {"-7", -7}, {"+4", 4},   {".5", 0.5}, {"1e3", 1000}, {"1e", 1},
        {"-", 0},       {".", 0},   {"0x10", 0}, {"5abc", 5}, {"1e999", 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(c.text), c.value) << '"' << c.text << '"';
}

} // namespace
} // namespace mirv
