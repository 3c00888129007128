#include "energy_table.h"
#include "energy_use.h"
#include "exact_decimal.h"
#include "program_folder.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

using Row = std::vector<std::string>;

// Meter 1 over one night: a record just outside each bound, an empty and a non-numeric cell,
// an hour without records and a replaced meter. Meter 2 has one record, meter 3 two in the
// same second, meter 10 totals beyond a double's precision and a drop hidden behind an empty
// cell, meter "x" is no number. One record has no meter at all.
class EnergyHistory : public testing::Test {
  protected:
    void SetUp() override {
        folder.exec(R"(INSERT INTO Historydata
            (MeterID, TXTleijire_z, TXTleijileng_z, Foward, Reverse, CreateTime) VALUES
            ('1', '50.00',  '1.00', '1.00',  '0.00', '2025-02-28 23:59:59'),
            ('1', '100.00', '5.00', '10.00', '0.00', '2025-03-01 00:00:00'),
            ('10', '9999999999999999.99', '20.00', '5.00', '1.00', '2025-03-01 00:00:00'),
            ('2', '7.00', '0.00', '3.00', '0.00', '2025-03-01 00:05:00'),
            ('1', '100.50', '', '10.25', '0.00', '2025-03-01 00:10:00'),
            ('10', '10000000000000000.01', '', '5.00', '1.00', '2025-03-01 00:01:30'),
            ('10', '10000000000000000.01', '19.99', '4.99', '1.00', '2025-03-01 00:02:00'),
            ('10', '10000000000000000.01', '20.99', '5.99', '1.00', '2025-03-01 00:03:00'),
            ('1', 'abc', '5.10', '10.75', '0.00', '2025-03-01 00:20:00'),
            ('3', '', '', '2.00', '', '2025-03-01 00:30:00'),
            ('3', '', '', '3.00', '', '2025-03-01 00:30:00'),
            (NULL, '1.00', '1.00', '1.00', '1.00', '2025-03-01 00:40:00'),
            ('x', '1.00', '1.00', '1.00', '1.00', '2025-03-01 01:00:00'),
            ('1', '101.00', '5.10', '11.00', '0.10', '2025-03-01 01:20:00'),
            ('1', '0.20', '0.00', '0.05', '0.10', '2025-03-01 01:30:00'),
            ('1', '1.00', '0.30', '0.55', '0.20', '2025-03-01 01:40:00'),
            ('1', '1.50', '', '0.55', 'NaN', '2025-03-01 02:00:00'),
            ('1', '999.00', '999.00', '999.00', '999.00', '2025-03-01 02:00:01'))");
    }

    std::vector<Row> table(const std::string& meter, const std::string& from = "2025-03-01",
                           const std::string& to = "2025/3/1 2:00") {
        const EnergyUse use =
            computeEnergyUse(folder.databasePath(), selectionFrom({meter, from, to, ""}));
        EXPECT_EQ(use.status, PassStatus::Done) << use.error;
        std::vector<Row> rows;
        for (const EnergyRowTexts& r : energyTableTexts(use.meters, {}))
            rows.emplace_back(r.begin(), r.begin() + kEnergyNameColumn);
        return rows;
    }

    test::ProgramFolder folder;
};

const Row kMeter1 = {
    "1", "2025-03-01 00:00:00", "2025-03-01 02:00:00", "7", "2.30", "0.40", "1.50", "0.20", "60.0",
    "1"};
const Row kMeter2 = {
    "2", "2025-03-01 00:05:00", "2025-03-01 00:05:00", "1", "0.00", "0.00", "0.00", "0.00", "0.0",
    "0"};
const Row kMeter3 = {
    "3", "2025-03-01 00:30:00", "2025-03-01 00:30:00", "2", "0.00", "0.00", "1.00", "0.00", "0.0",
    "0"};
const Row kMeter10 = {
    "10", "2025-03-01 00:00:00", "2025-03-01 00:03:00", "4", "0.02", "1.00", "1.00", "0.00", "1.5",
    "1"};
const Row kMeterX = {
    "x", "2025-03-01 01:00:00", "2025-03-01 01:00:00", "1", "0.00", "0.00", "0.00", "0.00", "0.0",
    "0"};

TEST_F(EnergyHistory, UsePerMeterAndTotalsForEachMeterRule) {
    const Row allTotal = {"合计", "", "", "15", "2.32", "1.40", "3.50", "0.20", "", ""};
    const Row meter1Total = {"合计", "", "", "7", "2.30", "0.40", "1.50", "0.20", "", ""};
    const Row nothing = {"合计", "", "", "0", "0.00", "0.00", "0.00", "0.00", "", ""};
    const std::vector<Row> all = {kMeter1, kMeter2, kMeter3, kMeter10, kMeterX, allTotal};
    const struct {
        const char* meter;
        std::vector<Row> rows;
    } cases[] = {
        {"全部", all},
        {"", all},
        {"1", {kMeter1, meter1Total}},
        {" 1 ", {kMeter1, meter1Total}},
        {"01", {nothing}},
        {" 全部", {nothing}}, // the all-meters test looks at the text as typed
        {"4", {nothing}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(table(c.meter), c.rows) << '"' << c.meter << '"';
}

TEST_F(EnergyHistory, BoundsAreBothIncludedAndMustBeDates) {
    const Row nothing = {"合计", "", "", "0", "0.00", "0.00", "0.00", "0.00", "", ""};
    const struct {
        const char* from;
        const char* to;
        const char* first;
        const char* last;
        const char* records;
    } cases[] = {
        {"2025-02-28 23:59:59", "2025-03-01 02:00:01", "2025-02-28 23:59:59", "2025-03-01 02:00:01",
         "9"},
        {"2025-03-01 00:00:01", "2025-03-01 01:59:59", "2025-03-01 00:10:00", "2025-03-01 01:40:00",
         "5"},
        {"2025-03-01 01:30", "2025-03-01 01:30", "2025-03-01 01:30:00", "2025-03-01 01:30:00", "1"},
    };
    for (const auto& c : cases) {
        const auto rows = table("1", c.from, c.to);
        ASSERT_EQ(rows.size(), 2u) << c.from;
        EXPECT_EQ(rows[0][1], c.first);
        EXPECT_EQ(rows[0][2], c.last);
        EXPECT_EQ(rows[0][3], c.records);
    }
    EXPECT_EQ(table("1", "2025-02-30", "2025-03-02"), std::vector<Row>{nothing});
    EXPECT_EQ(table("1", "2025-03-01", ""), std::vector<Row>{nothing});
    EXPECT_EQ(table("1", "2025-03-02", "2025-03-01"), std::vector<Row>{nothing});
}

TEST_F(EnergyHistory, CancelledFailedAndProgress) {
    std::vector<double> progress;
    const EnergyUse done =
        computeEnergyUse(folder.databasePath(), selectionFrom({"", "2025-03-01", "2025-03-02", ""}),
                         [&](double f) { progress.push_back(f); });
    EXPECT_EQ(done.status, PassStatus::Done);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 1.0);

    const std::atomic_bool cancel{true};
    const EnergyUse cancelled = computeEnergyUse(
        folder.databasePath(), selectionFrom({"", "2025-03-01", "2025-03-02", ""}), {}, &cancel);
    EXPECT_EQ(cancelled.status, PassStatus::Cancelled);
    EXPECT_TRUE(cancelled.meters.empty());

    const EnergyUse failed = computeEnergyUse(folder.path() + "/missing.mdb",
                                              selectionFrom({"", "2025-03-01", "2025-03-02", ""}));
    EXPECT_EQ(failed.status, PassStatus::Failed);
    EXPECT_FALSE(failed.error.empty());
}

// The longest pause between a meter's records, to the second, across an hour boundary.
TEST(EnergyUse, LongestIntervalToTheSecond) {
    test::ProgramFolder folder;
    folder.exec(R"(INSERT INTO Historydata (MeterID, Foward, CreateTime) VALUES
        ('1', '1.00', '2025-03-01 10:00:00'), ('1', '2.00', '2025-03-01 10:00:59'),
        ('1', '3.00', '2025-03-01 10:59:59'), ('1', '4.00', '2025-03-01 11:59:58'))");
    const EnergyUse use = computeEnergyUse(folder.databasePath(),
                                           selectionFrom({"1", "2025-03-01", "2025-03-02", ""}));
    ASSERT_EQ(use.meters.size(), 1u);
    EXPECT_EQ(use.meters[0].longestGapSeconds, 3599);
    EXPECT_EQ(energyTableTexts(use.meters, {})[0][8], "60.0");
}

TEST(ExactDecimal, StoredTextsAsTenThousandths) {
    const struct {
        const char* text;
        std::optional<Fixed> value;
    } cases[] = {
        {"1000.30", 10003000},
        {"-3.5", -35000},
        {"7", 70000},
        {"0.0001", 1},
        {"999999999999999", Fixed{9999999999999990000ULL}},
        {"9999999999999999", Fixed{9999999999999999} * 10000},
        {"-99999999999999.9", -Fixed{999999999999999000}},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"1.", std::nullopt},
        {".5", std::nullopt},
        {"1.23456", std::nullopt},
        {"1e5", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1,000.00", std::nullopt},
        {"--1", std::nullopt},
        {"1.2.3", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tenThousandthsOf(c.text), c.value) << '"' << c.text << '"';
}

MeterEnergy meter(std::string id, std::string first, std::string last, std::int64_t records,
                  std::array<Fixed, 4> uses, std::int64_t gapSeconds, std::int64_t stepBacks) {
    return {std::move(id), std::move(first), std::move(last), records, uses, gapSeconds, stepBacks};
}

TEST(EnergyTable, CellTextsRoundHalfAwayFromZero) {
    const struct {
        Fixed use;
        std::int64_t gapSeconds;
        const char* useText;
        const char* gapText;
    } cases[] = {
        {0, 0, "0.00", "0.0"},
        {49, 2, "0.00", "0.0"},
        {50, 3, "0.01", "0.1"},
        {12345678, 3626, "1234.57", "60.4"},
        {12344999, 3627, "1234.50", "60.5"},
        {Fixed{1} << 100, 86400 * 400, "126765060022822940149670320.54", "576000.0"},
    };
    for (const auto& c : cases) {
        const auto rows =
            energyTableTexts({meter("5", "a", "b", 1, {c.use, 0, 0, 0}, c.gapSeconds, 0)}, {});
        EXPECT_EQ(rows[0][4], c.useText);
        EXPECT_EQ(rows[0][8], c.gapText);
    }
}

} // namespace
} // namespace mirv
