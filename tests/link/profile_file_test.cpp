#include "meter_profile_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace mirv {
namespace {

// Bad profiles are refused with the file, the line and the field named.
TEST(ProfileFile, RefusalsNameFileLineAndField) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {R"({"reads": [{"function": 3, "first": 0, "count": 4}],
 "values": {"flow": {"offset": 0, "type": "float16"}}})",
         "m.json:2: values.flow.type: unknown type \"float16\""},
        {R"({"reads": [{"function": 3, "first": 0, "count": 4}],
 "values": {
  "flow": {"offset": 3, "type": "float32"}}})",
         "m.json:3: values.flow.offset: offset 3 (2 registers) is outside reads[0] of 4 registers"},
        {R"({"reads": [{"function": 3, "first": 0, "count": 10},
  {"function": 4, "first": 5, "count": 10},
  {"function": 3, "first": 9, "count": 2}]})",
         "m.json:3: reads[2]: overlaps reads[0]"},
        {R"({"reads": [
  {"function": 3, "first": 0,
   "count": 126}]})",
         "m.json:3: reads[0].count: 126 is not in 1..125"},
        {R"({"reads": [{"function": 6, "first": 0, "count": 1}]})",
         "m.json:1: reads[0].function: must be 3 or 4"},
        {R"({"reads": [{"function": 3, "first": 0, "count": 4}],
 "values": {"flow": {"offset": 0, "type": "float32", "unit": "GJ"}}})",
         "m.json:2: values.flow.unit: unknown unit \"GJ\" for this quantity"},
        {R"({"reads": [{"function": 3, "first": 0, "count": 4}],
 "alarms": [{"offset": 0, "text": "x"},
  {"offset": 4, "bit": 1, "text": "y"}]})",
         "m.json:2: alarms[0]: needs either a bit or a value"},
        {R"({"reads": [{"function": 3, "first": 0, "count": 4}],
 "valeus": {}})",
         "m.json:2: valeus: unknown field"},
        {R"({"reads": [{"function": 3, "first": 0, "count": 4}],
 "reads": []})",
         "m.json:2: reads: given twice"},
        {"{\"reads\": [\n\n}", "m.json:3: not JSON: "},
    };
    for (const auto& c : cases) {
        const ProfileResult r = parseMeterProfile(c.text, "m.json", "m");
        EXPECT_FALSE(r.profile) << c.error;
        EXPECT_EQ(r.error.substr(0, std::string(c.error).ends_with(": ") ? std::strlen(c.error)
                                                                         : std::string::npos),
                  c.error);
    }
}

TEST(ProfileFile, UnreadableFileIsRefusedWithItsPath) {
    const ProfileResult r = findMeterProfile("/nonexistent-folder", "absent");
    EXPECT_FALSE(r.profile);
    EXPECT_EQ(r.error, "/nonexistent-folder/absent.json:0: cannot be read");
}

} // namespace
} // namespace mirv
