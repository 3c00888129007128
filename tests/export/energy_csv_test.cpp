#include "energy_csv.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

MeterEnergy meter(std::string id, std::string first, std::string last, std::int64_t records,
                  std::array<Fixed, 4> uses, std::int64_t gapSeconds, std::int64_t stepBacks) {
    return {std::move(id), std::move(first), std::move(last), records, uses, gapSeconds, stepBacks};
}

TEST(EnergyTable, CsvBytesWithTheMetersNamesLast) {
    const std::vector<MeterEnergy> meters = {
        meter("1", "2025-03-01 00:00:00", "2025-03-31 23:59:00", 44640, {12345678, 50, 1000000, 0},
              3630, 2),
        meter("a,\"b\"", "2025-03-02 08:00:00", "2025-03-02 08:00:00", 1, {0, 0, 0, 0}, 0, 0),
        meter("7\"", "x", "y", 1, {0, 0, 0, 0}, 0, 0),
    };
    const std::string expected =
        "\xEF\xBB\xBF"
        "\xE8\xA1\xA8\xE5\x8F\xB7," // 表号
        "开始时间,结束时间,记录数,热量用量(kWh),冷量用量(kWh),"
        "正向用量(m\xC2\xB3),反向用量(m\xC2\xB3),最长间隔(分钟),回退次数,"
        "\xE5\x90\x8D\xE7\xA7\xB0\r\n" // 名称
        "1,2025-03-01 00:00:00,2025-03-31 23:59:00,44640,1234.57,0.01,100.00,0.00,60.5,2,"
        "\"\xE4\xB8\x9C\xE5\x8C\xBA,\"\"2\"\"\"\r\n" // "东区,""2"""
        "\"a,\"\"b\"\"\",2025-03-02 08:00:00,2025-03-02 08:00:00,1,0.00,0.00,0.00,0.00,0.0,0,\r\n"
        "\"7\"\"\",x,y,1,0.00,0.00,0.00,0.00,0.0,0,\r\n"
        "合计,,,44642,1234.57,0.01,100.00,0.00,,,\r\n";
    // Meter 7 is named, but "7\"" is not its number.
    EXPECT_EQ(energyCsv(meters, MeterNames({{1, "东区,\"2\""}, {7, "西区"}})), expected);
}

} // namespace
} // namespace mirv
