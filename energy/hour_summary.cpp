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

void HourSummarizer::add(std::int64_t id, std::string_view createTime,
                         const std::array<std::string_view, kHourColumns>& cells) {
    const auto wall = LocalSeconds::wallOf(createTime);
    if (!wall)
        return;
    const std::int64_t record = hour_.records++;
    if (record == 0)
        hour_.firstId = id;
    hour_.lastId = id;
    if (!hour_.orderly)
        return;
    if (*wall < *start_ || *wall >= *start_ + 3600 || (record > 0 && *wall < hour_.lastWall)) {
        HourSummary unordered;
        unordered.records = hour_.records;
        unordered.firstId = hour_.firstId;
        unordered.lastId = hour_.lastId;
        unordered.orderly = false;
        hour_ = unordered;
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

// Per column "first last low high" with spaces, columns apart by ';', a broken column "-".
// `last` is "=" when it is `first`; `low` is "=" when the first record holds it, else
// "record,value,second"; `high` is "=" when the last record holds it, else likewise; seconds
// count from the hour's first record. Most hours of a total that only rises are "first last = =".
std::string hourLinesText(const HourSummary& hour) {
    if (!hour.orderly)
        return {};
    std::string text;
    auto extreme = [&](std::int64_t record, Fixed value, std::int64_t wall, bool plain) {
        return plain ? std::string("=")
                     : std::to_string(record) + ',' + fixedText(value) + ',' +
                           std::to_string(wall - hour.firstWall);
    };
    for (int c = 0; c < kHourColumns; ++c) {
        const HourSummary::Line& l = hour.lines[c];
        if (c > 0)
            text += ';';
        if (l.broken) {
            text += '-';
            continue;
        }
        text += fixedText(l.first) + ' ' + (l.last == l.first ? "=" : fixedText(l.last)) + ' ' +
                extreme(l.lowRecord, l.low, l.lowWall, l.lowRecord == 0) + ' ' +
                extreme(l.highRecord, l.high, l.highWall, l.highRecord == hour.records - 1);
    }
    return text;
}

// Needs the hour's records and first and last time read already.
bool readHourLines(std::string_view text, HourSummary& hour, std::uint32_t columns) {
    hour.orderly = !text.empty();
    if (!hour.orderly)
        return true;
    // The extreme's record, value and wall-clock second; `plain` gives them for "=".
    auto extreme = [&](std::string_view part, std::int64_t record, Fixed value, std::int64_t wall,
                       std::int64_t& r, Fixed& v, std::int64_t& w) {
        if (part == "=") {
            r = record, v = value, w = wall;
            return true;
        }
        const auto rec = integerOf(take(part, ','));
        const auto val = fixedOf(take(part, ','));
        const auto second = integerOf(part);
        if (!rec || !val || !second)
            return false;
        r = *rec, v = *val, w = hour.firstWall + *second;
        return true;
    };
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
        const std::string_view lastText = take(part, ' ');
        const auto last = lastText == "=" ? first : fixedOf(lastText);
        const std::string_view lowText = take(part, ' ');
        if (!first || !last)
            return false;
        l = {};
        l.first = *first;
        l.last = *last;
        if (!extreme(lowText, 0, *first, hour.firstWall, l.lowRecord, l.low, l.lowWall) ||
            !extreme(part, hour.records - 1, *last, hour.lastWall, l.highRecord, l.high,
                     l.highWall))
            return false;
    }
    return text.empty();
}

} // namespace mirv
