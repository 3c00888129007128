#include "day_summary.h"

#include "exact_decimal.h"
#include "local_seconds.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace mirv {

void DaySummarizer::add(std::int64_t id, std::string_view createTime,
                        const std::array<std::string_view, kEnergyTotals>& totals) {
    const std::int64_t record = day_.records++;
    if (record == 0) {
        day_.firstTime = createTime;
        day_.firstId = id;
    }
    day_.lastTime = createTime;
    day_.lastId = id;
    const auto wallBefore = wallClock_.last();
    if (const auto wall = wallClock_.next(createTime)) {
        if (!day_.firstWall)
            day_.firstWall = wall;
        day_.lastWall = wall;
        std::optional<std::int64_t> before = wallBefore, now = wall;
        if (clock_) {
            before = clock_->last();
            now = clock_->next(createTime);
            if (!day_.firstSeconds)
                day_.firstSeconds = now;
            day_.lastSeconds = now;
        }
        if (before)
            day_.longestGapSeconds = std::max(day_.longestGapSeconds, *now - *before);
    }
    bool wentDown = false;
    for (DaySummary::Total& total : day_.totals) {
        const auto value = tenThousandthsOf(totals[&total - day_.totals.data()]);
        if (!value)
            continue;
        if (!total.last) {
            total.first = value;
            total.firstRecord = record;
        } else if (*value > *total.last) {
            total.rises += *value - *total.last;
        } else if (*value < *total.last) {
            wentDown = true;
        }
        total.last = value;
    }
    if (!wentDown)
        return;
    ++day_.stepBacks;
    for (DaySummary::Total& total : day_.totals)
        if (total.first && total.firstRecord == record)
            total.firstRecordSteppedBack = true;
}

bool DayChain::usable(const DaySummary& day, LocalSeconds& clock) {
    // No zone changes its offset twice within two days.
    constexpr std::int64_t kTwoDays = 2 * 86400;
    return !day.firstWall ||
           (std::abs(*day.lastWall - *day.firstWall) <= kTwoDays &&
            clock.offsetAtWall(*day.firstWall) == clock.offsetAtWall(*day.lastWall) &&
            !clock.laterRealOfWall(*day.firstWall) && !clock.laterRealOfWall(*day.lastWall));
}

bool DayChain::add(const DaySummary& day, LocalSeconds& clock) {
    if (day.records == 0)
        return true;
    if (result_.records > 0 && day.firstId <= lastId_)
        return false;
    lastId_ = day.lastId;
    if (result_.records == 0)
        result_.firstTime = day.firstTime;
    result_.records += day.records;
    result_.lastTime = day.lastTime;
    if (day.firstWall) {
        const std::int64_t first =
            day.firstSeconds ? *day.firstSeconds : clock.realOfWall(*day.firstWall);
        if (lastSeconds_ && first < *lastSeconds_)
            return false;
        if (lastSeconds_)
            result_.longestGapSeconds = std::max(result_.longestGapSeconds, first - *lastSeconds_);
        result_.longestGapSeconds = std::max(result_.longestGapSeconds, day.longestGapSeconds);
        lastSeconds_ = day.lastSeconds ? *day.lastSeconds : clock.realOfWall(*day.lastWall);
    }
    // Records whose first value of a total stepped back against the day before, and were not
    // counted as a step back within the day: one count per record.
    std::array<std::int64_t, kEnergyTotals> steppedBack{};
    int count = 0;
    for (int t = 0; t < kEnergyTotals; ++t) {
        const DaySummary::Total& total = day.totals[t];
        if (!total.first)
            continue;
        if (last_[t]) {
            if (*total.first > *last_[t])
                result_.uses[t] += *total.first - *last_[t];
            else if (*total.first < *last_[t] && !total.firstRecordSteppedBack &&
                     std::find(steppedBack.begin(), steppedBack.begin() + count,
                               total.firstRecord) == steppedBack.begin() + count)
                steppedBack[count++] = total.firstRecord;
        }
        result_.uses[t] += total.rises;
        last_[t] = total.last;
    }
    result_.stepBacks += day.stepBacks + count;
    return true;
}

std::string fixedText(Fixed v) {
    if (v == 0)
        return "0";
    const bool negative = v < 0;
    unsigned __int128 u = negative ? -static_cast<unsigned __int128>(v) : v;
    std::string digits;
    for (; u > 0; u /= 10)
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
    return negative ? "-" + digits : digits;
}

std::optional<Fixed> fixedOf(std::string_view s) {
    const bool negative = s.starts_with('-');
    if (negative)
        s.remove_prefix(1);
    if (s.empty() || s.size() > 38)
        return std::nullopt;
    Fixed v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return negative ? -v : v;
}

std::optional<std::int64_t> integerOf(std::string_view s) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

// Splits off the text up to `separator` (all of it when there is none).
std::string_view take(std::string_view& s, char separator) {
    const auto at = s.find(separator);
    const std::string_view head = s.substr(0, at);
    s = at == std::string_view::npos ? std::string_view() : s.substr(at + 1);
    return head;
}

// Per total "first last rises record stepped" with spaces, the totals apart by ';'; a total
// with no numeric value that day is empty.
std::string totalsText(const std::array<DaySummary::Total, kEnergyTotals>& totals) {
    std::string text;
    for (int t = 0; t < kEnergyTotals; ++t) {
        const DaySummary::Total& total = totals[t];
        if (t > 0)
            text += ';';
        if (!total.first)
            continue;
        text += fixedText(*total.first) + ' ' + fixedText(*total.last) + ' ' +
                fixedText(total.rises) + ' ' + std::to_string(total.firstRecord) + ' ' +
                (total.firstRecordSteppedBack ? '1' : '0');
    }
    return text;
}

std::optional<std::array<DaySummary::Total, kEnergyTotals>> totalsFromText(std::string_view text) {
    std::array<DaySummary::Total, kEnergyTotals> totals;
    for (int t = 0; t < kEnergyTotals; ++t) {
        std::string_view part = take(text, ';');
        if (part.empty())
            continue;
        DaySummary::Total& total = totals[t];
        total.first = fixedOf(take(part, ' '));
        total.last = fixedOf(take(part, ' '));
        const auto rises = fixedOf(take(part, ' '));
        const auto record = integerOf(take(part, ' '));
        const std::string_view stepped = part;
        if (!total.first || !total.last || !rises || !record || (stepped != "0" && stepped != "1"))
            return std::nullopt;
        total.rises = *rises;
        total.firstRecord = *record;
        total.firstRecordSteppedBack = stepped == "1";
    }
    return totals;
}

} // namespace mirv
