#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace mirv {

class LocalSeconds;

// The order of true time: rows as they were written, by their ID. A range of time is still
// selected by CreateTime, but its text repeats when the clocks go back (or are set back by
// hand), so ordering by it would interleave the records of the repeated hour. Every pass that
// counts, sums up or draws records in their order ends its statement with this.
inline constexpr const char* kWrittenOrder = " ORDER BY ID";

// Reads the CreateTime texts of one meter's records, taken in written order, as true seconds
// since the epoch. A text the clocks went back over reads as its second reading once the record
// before is past its first; a text that still reads before the record before (a clock set back
// by hand) is taken as that record's time: time never runs back between records written one
// after the other. Texts that are no time read as nothing and leave the clock as it was.
class WrittenClock {
  public:
    // In the zone of `zone`; without one, the text read as UTC (wall-clock seconds).
    explicit WrittenClock(LocalSeconds* zone = nullptr) : zone_(zone) {}

    std::optional<std::int64_t> next(std::string_view createTime);
    // Goes on after a record read as `seconds` (nothing: as if none came before).
    void resumeAfter(std::optional<std::int64_t> seconds) { last_ = seconds; }
    // The time of the latest record read.
    std::optional<std::int64_t> last() const { return last_; }

  private:
    LocalSeconds* zone_;
    std::optional<std::int64_t> last_;
};

} // namespace mirv
