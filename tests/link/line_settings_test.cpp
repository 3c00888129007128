#include "line_settings.h"
#include "poll_pace.h"
#include "port_device.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace mirv {
namespace {

TEST(LineSettings, BaudTextChoosesOneOfSevenRatesElse9600) {
    const struct {
        const char* baud;
        const char* settings;
    } cases[] = {
        {"600", "600,n,8,1"},     {"1200", "1200,n,8,1"},   {"2400", "2400,n,8,1"},
        {"4800", "4800,n,8,1"},   {"9600", "9600,n,8,1"},   {"14400", "14400,n,8,1"},
        {"19200", "19200,n,8,1"}, {"38400", "9600,n,8,1"},  {"", "9600,n,8,1"},
        {" 9600", "9600,n,8,1"},  {"19200 ", "9600,n,8,1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lineSettingsForBaud(c.baud), c.settings) << c.baud;
}

TEST(LineSettings, ParsesTheSettingsString) {
    const auto s = parseLineSettings("14400,n,8,1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baud, 14400);
    EXPECT_EQ(s->parity, 'n');
    EXPECT_EQ(s->dataBits, 8);
    EXPECT_EQ(s->stopBits, 1);
    EXPECT_EQ(parseLineSettings("4800,E,7,2")->parity, 'e');
    for (const char* bad : {"", "9600", "9600,n,8", "abc,n,8,1", "9600,x,8,1", "9600,n,9,1",
                            "9600,n,8,3", "-1,n,8,1"})
        EXPECT_FALSE(parseLineSettings(bad)) << bad;
}

// 195 bytes at 10 bits each, rounded up to whole milliseconds, plus 40 ms for the meter.
TEST(PollPace, IntervalNeverFasterThanOnePollOnTheWire) {
    const struct {
        int stored;
        const char* line;
        int interval;
    } cases[] = {
        {200, "9600,n,8,1", 244},  {250, "9600,n,8,1", 250},  {2000, "600,n,8,1", 3290},
        {200, "19200,n,8,1", 200}, {100, "19200,n,8,1", 142}, {100, "14400,n,8,1", 176},
        {100, "1200,n,8,1", 1665}, {200, "nonsense", 244},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pollIntervalFor(c.stored, c.line), c.interval) << c.stored << " " << c.line;
}

TEST(PortDevice, MappedFileElseTtyS) {
    test::TempDir tmp;
    const auto dir = tmp.path();
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink("/dev/null-not-there", dir / "ports" / "com3");
    EXPECT_EQ(portDevice(dir.string(), 3), (dir / "ports" / "com3").string());
    EXPECT_EQ(portDevice(dir.string(), 1), "/dev/ttyS0");
    EXPECT_EQ(portDevice(dir.string(), 12), "/dev/ttyS11");
}

} // namespace
} // namespace mirv
