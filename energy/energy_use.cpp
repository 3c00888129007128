#include "energy_use.h"

#include "database.h"
#include "day_summary_store.h"
#include "history_query.h"
#include "local_seconds.h"
#include "meter_energy_tally.h"
#include "meter_plan_reader.h"
#include "range_pass.h"
#include "written_order.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace mirv {

namespace {

// Whole-number meter IDs first, by value; any others after them, by text.
auto meterOrder(const std::string& id) {
    const bool whole =
        !id.empty() && id.size() <= 18 && id.find_first_not_of("0123456789") == std::string::npos;
    return std::tuple(!whole, whole ? std::stoll(id) : 0LL, std::string_view(id));
}

} // namespace

namespace {

using DayMeter = std::pair<std::string, std::string>;
// Per meter, its pieces of the range by day.
using DayPieces = std::map<std::string, std::map<std::string, DaySummary>, std::less<>>;

// The rows a piece of a meter's chain of days stands for: CreateTime from `from` to `to`.
struct Span {
    std::string from, to;
    bool toIncluded = false;
};

struct ChainPiece {
    Span span;
    DaySummary summary;
};

// The day's span within the selection: the first and the last day end at its bounds.
std::optional<Span> spanOfDay(const HistorySelection& s, const std::string& day,
                              const std::string& firstDay, const std::string& lastDay) {
    if (day == lastDay)
        return Span{day, *s.to, true};
    auto end = prefixEnd(day);
    if (!end)
        return std::nullopt;
    return Span{day == firstDay ? *s.from : day, std::move(*end), false};
}

// The meter's records of the span in written order, summed up in real time.
std::optional<DaySummary> summarizeSpan(Database& conn, const std::string& meter, const Span& span,
                                        LocalSeconds& clock) {
    Statement rows(conn, std::string("SELECT ID, CreateTime, TXTleijire_z, TXTleijileng_z, Foward, "
                                     "Reverse FROM Historydata WHERE MeterID = ?1 AND CreateTime "
                                     ">= ?2 AND CreateTime ") +
                             (span.toIncluded ? "<=" : "<") + " ?3" + kWrittenOrder);
    rows.bind(1, meter);
    rows.bind(2, span.from);
    rows.bind(3, span.to);
    DaySummarizer summarizer(&clock);
    while (rows.step())
        summarizer.add(rows.integer(0), rows.textView(1),
                       {rows.textView(2), rows.textView(3), rows.textView(4), rows.textView(5)});
    if (rows.failed())
        return std::nullopt;
    return summarizer.summary();
}

// Chains the meter's pieces in day order. Where a piece was written (in part) before the one
// before it, or reads before its time, the two are read from their rows as one piece, so that
// what is chained stays in written order; nothing when the rows could not be read.
std::optional<MeterEnergy> chainDays(Database& conn, const std::string& meter,
                                     std::vector<ChainPiece>& pieces, LocalSeconds& clock) {
    for (;;) {
        DayChain chain(meter);
        std::size_t at = 0;
        while (at < pieces.size() && chain.add(pieces[at].summary, clock))
            ++at;
        if (at == pieces.size())
            return chain.result();
        if (at == 0)
            return std::nullopt;
        ChainPiece& before = pieces[at - 1];
        before.span.to = pieces[at].span.to;
        before.span.toIncluded = pieces[at].span.toIncluded;
        auto merged = summarizeSpan(conn, meter, before.span, clock);
        if (!merged)
            return std::nullopt;
        before.summary = std::move(*merged);
        pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

// Whole days come from their summaries, the first and the last day of the range (which may be
// partial) and days whose summary cannot be used from their rows. Nothing when the summaries
// cannot serve this range: the caller then reads every row.
std::optional<EnergyUse> energyFromSummaries(Database& conn, const HistorySelection& s,
                                             const std::atomic_bool* cancel) {
    const std::string firstDay = s.from->substr(0, 10), lastDay = s.to->substr(0, 10);
    if (s.from->size() < 10 || s.to->size() < 10 || !(firstDay < lastDay))
        return std::nullopt;
    std::int64_t seenId = 0;
    {
        Statement progress(conn, "SELECT Through IS NULL, SeenID FROM HistorydayProgress");
        if (!progress.step() || progress.integer(0) == 0)
            return std::nullopt; // no summaries, or not all days summed up yet
        seenId = progress.integer(1);
    }
    const std::string meterRule = s.allMeters ? "" : " AND MeterID = ?3";
    auto bindRange = [&](Statement& q) {
        q.bind(1, firstDay);
        q.bind(2, lastDay);
        if (!s.allMeters)
            q.bind(3, s.meterText);
    };
    // Days written since the summaries last looked, or changed behind their back.
    std::set<DayMeter> fromRows;
    for (const std::string& sql :
         {"SELECT Day, MeterID FROM HistorydayStale WHERE Day > ?1 AND Day < ?2" + meterRule,
          "SELECT substr(CreateTime, 1, 10) AS Day, CAST(MeterID AS TEXT) FROM Historydata "
          "WHERE ID > ?4 AND MeterID IS NOT NULL AND typeof(CreateTime) = 'text' "
          "AND Day > ?1 AND Day < ?2" +
              // By the row ID, not by walking the meter's index.
              (s.allMeters ? std::string() : " AND +MeterID = ?3")}) {
        Statement q(conn, sql);
        bindRange(q);
        if (sql.find("?4") != std::string::npos)
            q.bind(4, seenId);
        while (q.step())
            fromRows.emplace(q.text(0), q.text(1));
        if (q.failed())
            return std::nullopt;
    }
    DayPieces pieces;
    LocalSeconds clock;
    // The first and the last day from the rows in range, each by its own bounds: given two
    // upper or lower bounds, the index search would use one and filter by the other.
    const auto firstDayEnd = prefixEnd(firstDay);
    if (!firstDayEnd)
        return std::nullopt;
    for (const bool first : {true, false}) {
        Statement rows(conn, "SELECT CreateTime, MeterID, TXTleijire_z, TXTleijileng_z, Foward, "
                             "Reverse, ID FROM Historydata WHERE CreateTime >= ?1 AND CreateTime " +
                                 std::string(first ? "<" : "<=") + " ?2" + meterRule +
                                 kWrittenOrder);
        rows.bind(1, first ? *s.from : lastDay);
        rows.bind(2, first ? *firstDayEnd : *s.to);
        if (!s.allMeters)
            rows.bind(3, s.meterText);
        std::map<std::string, DaySummarizer, std::less<>> days;
        while (rows.step()) {
            if (rows.isNull(1))
                continue;
            const std::string_view meter = rows.textView(1);
            auto day = days.find(meter);
            if (day == days.end())
                day = days.emplace(std::string(meter), DaySummarizer(&clock)).first;
            day->second.add(
                rows.integer(6), rows.textView(0),
                {rows.textView(2), rows.textView(3), rows.textView(4), rows.textView(5)});
        }
        if (rows.failed())
            return std::nullopt;
        for (auto& [meter, summarizer] : days)
            pieces[meter][first ? firstDay : lastDay] = summarizer.summary();
    }
    if (cancel && cancel->load())
        return EnergyUse{PassStatus::Cancelled, {}, {}, {}};
    {
        Statement days(conn, std::string("SELECT Day, MeterID, ") + kDaySummaryColumns +
                                 " FROM Historyday WHERE Day > ?1 AND Day < ?2" + meterRule);
        bindRange(days);
        while (days.step()) {
            DayMeter key{days.text(0), days.text(1)};
            if (fromRows.contains(key))
                continue;
            auto summary = readDaySummary(days, 2);
            if (summary && DayChain::usable(*summary, clock))
                pieces[key.second][key.first] = std::move(*summary);
            else
                fromRows.insert(std::move(key));
        }
        if (days.failed())
            return std::nullopt;
    }
    for (const auto& [day, meter] : fromRows) {
        if (cancel && cancel->load())
            return EnergyUse{PassStatus::Cancelled, {}, {}, {}};
        auto summary = summarizeDayRows(conn, day, meter, &clock);
        if (!summary)
            return std::nullopt;
        if (summary->records > 0)
            pieces[meter][day] = std::move(*summary);
        else
            pieces[meter].erase(day);
    }
    EnergyUse use;
    for (const auto& [meter, days] : pieces) {
        std::vector<ChainPiece> chain;
        for (const auto& [day, summary] : days) {
            auto span = spanOfDay(s, day, firstDay, lastDay);
            if (!span)
                return std::nullopt;
            chain.push_back({std::move(*span), summary});
        }
        if (cancel && cancel->load())
            return EnergyUse{PassStatus::Cancelled, {}, {}, {}};
        auto energy = chainDays(conn, meter, chain, clock);
        if (!energy)
            return std::nullopt;
        if (energy->records > 0)
            use.meters.push_back(std::move(*energy));
    }
    return use;
}

EnergyUse energyFromRows(Database& conn, const HistorySelection& selection,
                         const ProgressCallback& onProgress, const std::atomic_bool* cancel) {
    std::vector<MeterEnergyTally> tallies;
    std::map<std::string, std::size_t, std::less<>> tallyOf;
    // The meters take turns in the same order pass after pass, so the one after the last is
    // tried before the map.
    std::size_t next = 0;
    LocalSeconds clock;
    const PassOutcome pass = passOverRange(
        conn, selection, "CreateTime, MeterID, TXTleijire_z, TXTleijileng_z, Foward, Reverse",
        onProgress, cancel, [&](const Statement& row) {
            if (row.isNull(1))
                return; // a record of no meter
            const std::string_view meter = row.textView(1);
            std::size_t t = next;
            if (t >= tallies.size() || tallies[t].result().meterId != meter) {
                const auto [found, added] = tallyOf.try_emplace(std::string(meter), tallies.size());
                if (added)
                    tallies.emplace_back(std::string(meter), clock);
                t = found->second;
            }
            next = t + 1 == tallies.size() ? 0 : t + 1;
            tallies[t].add(row.textView(0),
                           {row.textView(2), row.textView(3), row.textView(4), row.textView(5)});
        });
    EnergyUse use{pass.status, pass.error, {}, {}};
    if (pass.status != PassStatus::Done)
        return use;
    for (const MeterEnergyTally& tally : tallies)
        use.meters.push_back(tally.result());
    return use;
}

} // namespace

EnergyUse computeEnergyUse(const std::string& databasePath, const HistorySelection& selection,
                           const ProgressCallback& onProgress, const std::atomic_bool* cancel,
                           EnergySource source) {
    Database conn(databasePath, 2000, Database::Locking::OneThread);
    std::optional<EnergyUse> use;
    if (source == EnergySource::DaySummaries && conn.isOpen() && selection.from && selection.to &&
        conn.exec("BEGIN")) {
        use = energyFromSummaries(conn, selection, cancel);
        conn.exec("COMMIT");
        if (use && onProgress && use->status == PassStatus::Done)
            onProgress(1.0);
    }
    if (!use)
        use = energyFromRows(conn, selection, onProgress, cancel);
    std::sort(use->meters.begin(), use->meters.end(), [](const auto& a, const auto& b) {
        return meterOrder(a.meterId) < meterOrder(b.meterId);
    });
    if (use->status == PassStatus::Done)
        use->names = readMeterNames(conn);
    return std::move(*use);
}

} // namespace mirv
