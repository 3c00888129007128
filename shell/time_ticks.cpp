#include "time_ticks.h"

#include <QDateTime>
#include <algorithm>

namespace mirv {

namespace {

enum class Unit { Minute, Day, Month, Year };

struct Step {
    Unit unit;
    int count;
    std::int64_t nominalMs;
};

constexpr std::int64_t kMinuteMs = 60000;
constexpr std::int64_t kDayMs = 1440 * kMinuteMs;

// Every step divides the one above it, so ticks stay on round times.
constexpr Step kSteps[] = {
    {Unit::Minute, 1, kMinuteMs},         {Unit::Minute, 2, 2 * kMinuteMs},
    {Unit::Minute, 5, 5 * kMinuteMs},     {Unit::Minute, 10, 10 * kMinuteMs},
    {Unit::Minute, 15, 15 * kMinuteMs},   {Unit::Minute, 30, 30 * kMinuteMs},
    {Unit::Minute, 60, 60 * kMinuteMs},   {Unit::Minute, 120, 120 * kMinuteMs},
    {Unit::Minute, 180, 180 * kMinuteMs}, {Unit::Minute, 360, 360 * kMinuteMs},
    {Unit::Minute, 720, 720 * kMinuteMs}, {Unit::Day, 1, kDayMs},
    {Unit::Day, 2, 2 * kDayMs},           {Unit::Day, 7, 7 * kDayMs},
    {Unit::Month, 1, 30 * kDayMs},        {Unit::Month, 3, 91 * kDayMs},
    {Unit::Month, 6, 182 * kDayMs},       {Unit::Year, 1, 365 * kDayMs},
    {Unit::Year, 2, 730 * kDayMs},        {Unit::Year, 5, 1826 * kDayMs},
    {Unit::Year, 10, 3652 * kDayMs},
};

// Days of the month a step of some days falls on: every day, 1, 3, 5 .. 29, or 1, 8, 15, 22.
bool dayOnStep(int day, int step) {
    if (step == 1)
        return true;
    return day <= (step == 7 ? 22 : 29) && (day - 1) % step == 0;
}

} // namespace

std::vector<TimeTick> timeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks) {
    std::vector<TimeTick> ticks;
    if (toMs < fromMs || maxTicks < 1)
        return ticks;
    const Step* step = std::find_if(std::begin(kSteps), std::end(kSteps) - 1, [&](const Step& s) {
        return (toMs - fromMs) / s.nominalMs + 1 <= maxTicks;
    });
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(fromMs);
    const bool acrossYears =
        from.date().year() != QDateTime::fromMSecsSinceEpoch(toMs).date().year();
    auto add = [&](const QDateTime& t, const QString& format) {
        if (!t.isValid())
            return false;
        const std::int64_t ms = t.toMSecsSinceEpoch();
        if (ms >= fromMs && ms <= toMs && (ticks.empty() || ms > ticks.back().ms))
            ticks.push_back({ms, t.toString(format)});
        return ms <= toMs;
    };
    QDate day = from.date();
    switch (step->unit) {
    case Unit::Minute:
        for (int minute = from.time().msecsSinceStartOfDay() / 60000 / step->count * step->count;;
             minute += step->count) {
            if (minute >= 1440) {
                day = day.addDays(1);
                minute = 0;
            }
            const bool midnight = minute == 0;
            if (!add(QDateTime(day, QTime(minute / 60, minute % 60)),
                     midnight ? QStringLiteral("MM-dd") : QStringLiteral("HH:mm")))
                break;
        }
        break;
    case Unit::Day:
        for (;; day = day.addDays(1))
            if (dayOnStep(day.day(), step->count) &&
                !add(QDateTime(day, QTime(0, 0)),
                     acrossYears ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("MM-dd")))
                break;
        break;
    case Unit::Month:
        for (QDate month(day.year(), day.month(), 1);; month = month.addMonths(1))
            if ((month.month() - 1) % step->count == 0 &&
                !add(QDateTime(month, QTime(0, 0)), QStringLiteral("yyyy-MM")))
                break;
        break;
    case Unit::Year:
        for (int year = day.year();; ++year)
            if (year % step->count == 0 &&
                !add(QDateTime(QDate(year, 1, 1), QTime(0, 0)), QStringLiteral("yyyy")))
                break;
        break;
    }
    return ticks;
}

} // namespace mirv
