#include "hour_summary.h"

#include "day_summary.h"
#include "exact_decimal.h"
#include "local_seconds.h"

#include <algorithm>
#include <charconv>

namespace mirv {

namespace {

// As the trend compares values.
double valueOf(Fixed v) {
    return static_cast<double>(v) / 10000.0;
}

} // namespace

int hourColumnIndex(std::string_view column) {
    const auto* at = std::find(kHourColumnNames.begin(), kHourColumnNames.end(), column);
    return at == kHourColumnNames.end() ? -1 : static_cast<int>(at - kHourColumnNames.begin());
}

std::optional<std::int64_t> hourStartWall(std::string_view hour) {
    if (hour.size() != 13 || hour[10] != ' ')
        return std::nullopt;
    return LocalSeconds::wallOf(std::string(hour) + ":00:00");
}

HourSummarizer::HourSummarizer(std::string_view hour, HourSummary from)
    : hour_(std::move(from)), start_(hourStartWall(hour)) {
    if (!start_)
        hour_.orderly = false;
}

void HourSummarizer::add(std::string_view createTime,
                         const std::array<std::string_view, kHourColumns>& cells) {
    const auto wall = LocalSeconds::wallOf(createTime);
    if (!wall)
        return;
    const std::int64_t record = hour_.records++;
    if (!hour_.orderly)
        return;
    if (*wall < *start_ || *wall >= *start_ + 3600 || (record > 0 && *wall < hour_.lastWall)) {
        const std::int64_t records = hour_.records;
        hour_ = {};
        hour_.records = records;
        hour_.orderly = false;
        return;
    }
    if (record == 0) {
        hour_.firstWall = *wall;
    } else if (*wall > hour_.lastWall) {
        ++hour_.steps;
        hour_.longestStep = std::max(hour_.longestStep, *wall - hour_.lastWall);
    }
    hour_.lastWall = *wall;
    for (int c = 0; c < kHourColumns; ++c) {
        HourSummary::Line& line = hour_.lines[c];
        if (line.broken)
            continue;
        const auto value = tenThousandthsOf(cells[c]);
        if (!value) {
            line = {.broken = true};
            continue;
        }
        if (record == 0) {
            line = {false, *value, *value, *value, *value, 0, 0, *wall, *wall};
            continue;
        }
        line.last = *value;
        if (valueOf(*value) < valueOf(line.low)) {
            line.low = *value;
            line.lowRecord = record;
            line.lowWall = *wall;
        }
        if (valueOf(*value) > valueOf(line.high)) {
            line.high = *value;
            line.highRecord = record;
            line.highWall = *wall;
        }
    }
}

// Per column "first last lowRecord low lowSecond highRecord high highSecond" with spaces, the
// seconds counted from the hour's first record; a broken column is "-"; columns apart by ';'.
std::string hourLinesText(const HourSummary& hour) {
    if (!hour.orderly)
        return {};
    std::string text;
    for (int c = 0; c < kHourColumns; ++c) {
        const HourSummary::Line& l = hour.lines[c];
        if (c > 0)
            text += ';';
        if (l.broken) {
            text += '-';
            continue;
        }
        text += fixedText(l.first) + ' ' + fixedText(l.last) + ' ' + std::to_string(l.lowRecord) +
                ' ' + fixedText(l.low) + ' ' + std::to_string(l.lowWall - hour.firstWall) + ' ' +
                std::to_string(l.highRecord) + ' ' + fixedText(l.high) + ' ' +
                std::to_string(l.highWall - hour.firstWall);
    }
    return text;
}

bool readHourLines(std::string_view text, HourSummary& hour, std::uint32_t columns) {
    hour.orderly = !text.empty();
    if (!hour.orderly)
        return true;
    for (int c = 0; c < kHourColumns; ++c) {
        std::string_view part = take(text, ';');
        HourSummary::Line& l = hour.lines[c];
        if (!(columns >> c & 1u))
            continue;
        if (part == "-") {
            l = {.broken = true};
            continue;
        }
        const auto first = fixedOf(take(part, ' '));
        const auto last = fixedOf(take(part, ' '));
        const auto lowRecord = integerOf(take(part, ' '));
        const auto low = fixedOf(take(part, ' '));
        const auto lowSecond = integerOf(take(part, ' '));
        const auto highRecord = integerOf(take(part, ' '));
        const auto high = fixedOf(take(part, ' '));
        const auto highSecond = integerOf(part);
        if (!first || !last || !lowRecord || !low || !lowSecond || !highRecord || !high ||
            !highSecond)
            return false;
        l = {false,
             *first,
             *last,
             *low,
             *high,
             *lowRecord,
             *highRecord,
             hour.firstWall + *lowSecond,
             hour.firstWall + *highSecond};
    }
    return text.empty();
}

} // namespace mirv
