#pragma once

#include "meter_energy.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// The Historydata columns an hour's summary keeps, in this order: every column a trend draws.
inline constexpr int kHourColumns = 9;
inline constexpr std::array<std::string_view, kHourColumns> kHourColumnNames = {
    "MinuteAverage", "TXTctemperature1", "TXTctemperature2", "TXTreliang",    "TXTlengliang",
    "Foward",        "Reverse",          "TXTleijire_z",     "TXTleijileng_z"};
// The column's place in kHourColumnNames; -1 when it is not there.
int hourColumnIndex(std::string_view column);

// What a trend needs of one meter's records of one hour (the first 13 characters of
// CreateTime) to draw them as if it read them, taken in written order. Records whose
// time does not read are left out, as the trend leaves them out.
struct HourSummary {
    // One column: its first and last value, and the first of its lowest and of its highest
    // values with the record that holds it (counted from 0) and its wall-clock second.
    struct Line {
        bool broken = false; // an empty or non-numeric cell: the line breaks inside the hour
        Fixed first = 0, last = 0, low = 0, high = 0;
        std::int64_t lowRecord = 0, highRecord = 0;
        std::int64_t lowWall = 0, highWall = 0;

        bool operator==(const Line&) const = default;
    };

    std::int64_t records = 0;
    std::int64_t firstId = 0, lastId = 0; // the row IDs of the first and the last record
    // Every time reads as a second of this hour and none goes back. Only then is the rest kept.
    bool orderly = true;
    std::int64_t firstWall = 0, lastWall = 0; // wall-clock seconds (the text read as UTC)
    std::int64_t steps = 0;                   // spacings between consecutive records that are > 0
    std::int64_t longestStep = 0;             // seconds
    std::array<Line, kHourColumns> lines;

    bool operator==(const HourSummary&) const = default;
};

// Counts an hour's records in written order into an HourSummary; can go on from a stored one.
class HourSummarizer {
  public:
    explicit HourSummarizer(std::string_view hour, HourSummary from = {});

    void add(std::int64_t id, std::string_view createTime,
             const std::array<std::string_view, kHourColumns>& cells);
    const HourSummary& summary() const { return hour_; }

  private:
    HourSummary hour_;
    std::optional<std::int64_t> start_; // the hour's first wall-clock second
};

// The hour's first wall-clock second; nothing when `hour` is not 'YYYY-MM-DD HH'.
std::optional<std::int64_t> hourStartWall(std::string_view hour);

// The lines as one stored text and back; an hour that is not orderly has the empty text.
// Nothing when the text is not one this wrote.
// Only the columns whose bit is set in `columns` are read (the others stay empty).
std::string hourLinesText(const HourSummary& hour);
bool readHourLines(std::string_view text, HourSummary& hour, std::uint32_t columns = ~0u);

} // namespace mirv
