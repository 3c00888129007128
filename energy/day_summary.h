#pragma once

#include "meter_energy.h"
#include "written_order.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirv {

class LocalSeconds;

// What the energy pass needs of one meter's records of one day (the first ten characters of
// CreateTime, whatever they hold), taken in written order, to carry on from the day before
// exactly as if it read them.
struct DaySummary {
    struct Total {
        std::optional<Fixed> first; // the day's first and last numeric value
        std::optional<Fixed> last;
        Fixed rises = 0;                     // sum of the rises between the day's numeric values
        std::int64_t firstRecord = 0;        // which of the day's records holds `first`, from 0
        bool firstRecordSteppedBack = false; // whether another total stepped back there

        bool operator==(const Total&) const = default;
    };

    std::int64_t records = 0;
    std::int64_t firstId = 0; // the row IDs of the first and the last record
    std::int64_t lastId = 0;
    std::string firstTime; // CreateTime of the first and the last record, as stored
    std::string lastTime;
    // Wall-clock seconds (the text read as UTC) of the first record whose time reads, and the
    // latest of them (where a WrittenClock stands after the day).
    std::optional<std::int64_t> firstWall;
    std::optional<std::int64_t> lastWall;
    // The same as true seconds, for a day summed up in a zone at once (never stored).
    std::optional<std::int64_t> firstSeconds;
    std::optional<std::int64_t> lastSeconds;
    std::int64_t longestGapSeconds = 0; // between the day's readable records
    std::int64_t stepBacks = 0;         // records that stepped back against the same day's
    std::array<Total, kEnergyTotals> totals;

    bool operator==(const DaySummary&) const = default;
};

// Counts a day's records in written order into a DaySummary; can go on from a stored one.
// The longest gap is wall-clock time, or real time in the zone of `realTime` when given (for a
// summary used at once, which need not stand for every zone).
class DaySummarizer {
  public:
    explicit DaySummarizer(LocalSeconds* realTime = nullptr) {
        if (realTime)
            clock_.emplace(realTime);
    }
    explicit DaySummarizer(DaySummary from) : day_(std::move(from)) {
        wallClock_.resumeAfter(day_.lastWall);
    }

    void add(std::int64_t id, std::string_view createTime,
             const std::array<std::string_view, kEnergyTotals>& totals);

    const DaySummary& summary() const { return day_; }

  private:
    DaySummary day_;
    WrittenClock wallClock_;
    std::optional<WrittenClock> clock_; // in real time, when summed up for use at once
};

// One meter's energy built day after day, in day order. Gives the MeterEnergy that a tally
// over the same records would, as long as each day was written after the one before.
class DayChain {
  public:
    explicit DayChain(std::string meterId) { result_.meterId = std::move(meterId); }

    // False when the summary's wall clock cannot stand for real time here (the zone's offset
    // changes within the day, or its time repeats): the caller reads that day's records instead.
    static bool usable(const DaySummary& day, LocalSeconds& clock);
    // False when the day's records were not all written after the days before (or read before
    // their time): no chain of days gives what a tally over the records does, so the caller
    // reads the records instead.
    bool add(const DaySummary& day, LocalSeconds& clock);

    const MeterEnergy& result() const { return result_; }

  private:
    MeterEnergy result_;
    std::array<std::optional<Fixed>, kEnergyTotals> last_;
    std::optional<std::int64_t> lastSeconds_;
    std::int64_t lastId_ = 0;
};

// The pieces of the summaries' stored texts: a Fixed as whole-number text and back, an
// integer back, and the text up to `separator` split off (all of it when there is none).
std::string fixedText(Fixed v);
std::optional<Fixed> fixedOf(std::string_view s);
std::optional<std::int64_t> integerOf(std::string_view s);
std::string_view take(std::string_view& s, char separator);

// The totals as one stored text and back; nothing when the text is not one this wrote.
std::string totalsText(const std::array<DaySummary::Total, kEnergyTotals>& totals);
std::optional<std::array<DaySummary::Total, kEnergyTotals>> totalsFromText(std::string_view text);

} // namespace mirv
