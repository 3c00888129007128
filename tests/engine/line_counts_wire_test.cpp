// The line's counters as a window attached to the service gets them: read by read, with the
// reads polled and their names.
#include "station_messages.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace mirv {
namespace {

// Meter 101 with two reads, written as the service sends it.
const char* const kCounts = R"({"meters": [
    {"a": 101, "r": 0, "requests": 3, "answers": 2, "missed": 1, "late": 1,
     "responseMinUs": 9000, "responseMaxUs": 12000},
    {"a": 101, "r": 1, "requests": 2, "answers": 2, "missed": 0,
     "responseMinUs": 7000, "responseMaxUs": 8000}],
  "polled": [
    {"a": 101, "r": 0, "profile": "two-blocks", "name": "北区供水", "function": 3, "first": 0,
     "count": 10},
    {"a": 101, "r": 1, "profile": "two-blocks", "name": "北区供水", "function": 3,
     "first": 1000, "count": 9}]})";

TEST(LineCountsOnTheWire, EachReadAndTheMeterTheyMake) {
    LineCounts counts;
    wire::readCounts(QJsonDocument::fromJson(kCounts).object(), counts);
    ASSERT_EQ(counts.reads.size(), 2u);
    EXPECT_EQ(counts.reads.at({101, 0}).late, 1u);
    EXPECT_EQ(counts.reads.at({101, 1}).answers, 2u);
    const MeterCounters& meter = counts.meters[101];
    EXPECT_EQ(meter.requests, 5u);
    EXPECT_EQ(meter.answers, 4u);
    EXPECT_EQ(meter.missed, 1u);
    EXPECT_EQ(meter.responseMinUs, 7000);
    EXPECT_EQ(meter.responseMaxUs, 12000);
    ASSERT_EQ(counts.polled.size(), 2u);
    EXPECT_EQ(counts.polled[1].key, (ReadKey{101, 1}));
    EXPECT_EQ(counts.polled[1].name, "北区供水");
    EXPECT_EQ(counts.polled[1].profile, "two-blocks");
    EXPECT_EQ(counts.polled[1].read.first, 1000);
    EXPECT_EQ(counts.polled[1].read.count, 9);

    LineCounts again;
    wire::readCounts(wire::countsJson(counts), again);
    EXPECT_EQ(again.reads.at({101, 0}).responseMaxUs, 12000);
    EXPECT_EQ(again.meters[101].requests, 5u);
    EXPECT_EQ(again.polled.size(), 2u);
    EXPECT_EQ(again.polled[0].name, "北区供水");
}

} // namespace
} // namespace mirv
