#include "trend_hours.h"

#include "database.h"
#include "day_summary_store.h"
#include "exact_decimal.h"
#include "hour_summary.h"
#include "local_seconds.h"
#include "trend_reduction.h"
#include "written_order.h"

#include <algorithm>
#include <limits>
#include <set>

namespace mirv {

namespace {

constexpr std::int64_t kHourMs = 3600000;
constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// Records read from the rows, or one summed-up hour.
struct Piece {
    std::string hour; // empty for rows
    HourSummary summary;
    std::int64_t offsetSeconds = 0; // the zone's offset through the hour
    std::vector<std::int64_t> timesMs;
    std::vector<std::vector<double>> lines;
    std::int64_t firstId = 0, lastId = 0; // the row IDs of the first and last record drawn
    // The CreateTime texts it stands for: from `from` up to `to`, itself included or not.
    std::string from, to;
    bool toIncluded = false;

    // The true second of the piece's last record.
    std::optional<std::int64_t> lastSeconds() const {
        if (!hour.empty())
            return summary.lastWall - offsetSeconds;
        if (timesMs.empty())
            return std::nullopt;
        return timesMs.back() / 1000;
    }
};

class HourLoader {
  public:
    HourLoader(Database& conn, const HistorySelection& s, const TrendQuantity& q)
        : conn_(conn), selection_(s), quantity_(q),
          rows_(conn, "SELECT ID, CreateTime, " + columns() +
                          " FROM Historydata WHERE MeterID = ?1 AND CreateTime >= ?2 AND "
                          "CreateTime < ?3" +
                          kWrittenOrder),
          lastRows_(conn, "SELECT ID, CreateTime, " + columns() +
                              " FROM Historydata WHERE MeterID = ?1 AND CreateTime >= ?2 AND "
                              "CreateTime <= ?3" +
                              kWrittenOrder) {}

    std::optional<TrendLoad> load(const std::atomic_bool* cancel);

  private:
    std::string columns() const {
        std::string c;
        for (int l = 0; l < quantity_.lineCount; ++l)
            c += std::string(l ? ", " : "") + std::string(quantity_.lines[l].column);
        return c;
    }
    bool readSummaryState();
    bool usable(const std::string& hour, const HourSummary& h);
    bool somethingBetween(const std::string& from, const std::string& to) const;
    bool readRows(Statement& q, const std::string& from, const std::string& to, const Piece* after,
                  Piece& piece);
    bool rereadRows(std::size_t at);
    std::size_t outOfWrittenOrder() const;
    bool keepWrittenOrder();
    std::int64_t gapMs() const;
    TrendData flatten() const;

    Database& conn_;
    const HistorySelection& selection_;
    const TrendQuantity& quantity_;
    Statement rows_, lastRows_;
    LocalSeconds clock_;
    std::array<int, 2> columnOf_{};
    std::uint32_t columnMask_ = 0;
    std::int64_t seenId_ = 0;
    std::set<std::string> staleDays_;
    std::set<std::string> unfolded_; // CreateTime of the meter's rows not in the summaries yet
    std::vector<Piece> pieces_;
};

bool HourLoader::readSummaryState() {
    for (int l = 0; l < quantity_.lineCount; ++l)
        if ((columnOf_[l] = hourColumnIndex(quantity_.lines[l].column)) < 0)
            return false;
        else
            columnMask_ |= 1u << columnOf_[l];
    {
        Statement q(conn_, "SELECT Through IS NULL, SeenID FROM HistorydayProgress");
        if (!q.step() || q.integer(0) == 0)
            return false; // not all summed up (yet)
        seenId_ = q.integer(1);
    }
    Statement stale(conn_, "SELECT Day FROM HistorydayStale WHERE MeterID = ?1 AND Day >= ?2 AND "
                           "Day <= ?3");
    stale.bind(1, selection_.meterText);
    stale.bind(2, selection_.from->substr(0, 10));
    stale.bind(3, *selection_.to);
    while (stale.step())
        staleDays_.insert(stale.text(0));
    // By the row ID, not the meter's index: a handful of rows, not all of the meter's.
    Statement recent(conn_, "SELECT CreateTime FROM Historydata WHERE ID > ?1 AND +MeterID = ?2 "
                            "AND typeof(CreateTime) = 'text'");
    recent.bind(1, seenId_);
    recent.bind(2, selection_.meterText);
    while (recent.step())
        unfolded_.insert(recent.text(0));
    // The meter's open hour has no summary yet: its rows are read like those not folded in.
    Statement open(conn_, "SELECT Hour FROM HistoryhourOpen WHERE MeterID = ?1");
    open.bind(1, selection_.meterText);
    while (open.step())
        unfolded_.insert(open.text(0));
    return !stale.failed() && !recent.failed() && open.ok() && !open.failed();
}

bool HourLoader::usable(const std::string& hour, const HourSummary& h) {
    if (!h.orderly || h.records == 0 || hour < *selection_.from)
        return false;
    const auto end = prefixEnd(hour);
    if (!end || *end > *selection_.to || staleDays_.contains(hour.substr(0, 10)))
        return false;
    const auto recent = unfolded_.lower_bound(hour);
    if (recent != unfolded_.end() && *recent < *end)
        return false;
    for (int l = 0; l < quantity_.lineCount; ++l)
        if (h.lines[columnOf_[l]].broken)
            return false;
    // Its records must fall in one hour of UTC to share a bucket under the snapped edges.
    return clock_.offsetAtWall(h.firstWall) % 3600 == 0 &&
           clock_.offsetAtWall(h.firstWall) == clock_.offsetAtWall(h.lastWall);
}

// Whether rows between the two texts may lack an hour's summary.
bool HourLoader::somethingBetween(const std::string& from, const std::string& to) const {
    const auto recent = unfolded_.lower_bound(from);
    if (recent != unfolded_.end() && *recent < to)
        return true;
    const auto day = staleDays_.lower_bound(from.substr(0, 10));
    return day != staleDays_.end() && *day < to;
}

// The rows between the two texts, read on from the piece `after` (nothing: the first).
bool HourLoader::readRows(Statement& q, const std::string& from, const std::string& to,
                          const Piece* after, Piece& piece) {
    q.reset();
    q.bind(1, selection_.meterText);
    q.bind(2, from);
    q.bind(3, to);
    piece.from = from;
    piece.to = to;
    piece.toIncluded = &q == &lastRows_;
    piece.lines.resize(static_cast<std::size_t>(quantity_.lineCount));
    WrittenClock written(&clock_);
    if (after)
        written.resumeAfter(after->lastSeconds());
    while (q.step()) {
        const auto seconds = written.next(q.textView(1));
        if (!seconds)
            continue;
        if (piece.timesMs.empty())
            piece.firstId = q.integer(0);
        piece.lastId = q.integer(0);
        piece.timesMs.push_back(*seconds * 1000);
        for (int l = 0; l < quantity_.lineCount; ++l) {
            const auto value = tenThousandthsOf(q.textView(l + 2));
            piece.lines[l].push_back(value ? static_cast<double>(*value) / 10000.0 : kUnknown);
        }
    }
    return !q.failed();
}

// The piece at `at` read again from its rows, on from the piece before.
bool HourLoader::rereadRows(std::size_t at) {
    const Piece& p = pieces_[at];
    Piece rows;
    if (!readRows(p.toIncluded ? lastRows_ : rows_, p.from, p.to,
                  at > 0 ? &pieces_[at - 1] : nullptr, rows))
        return false;
    pieces_[at] = std::move(rows);
    return true;
}

// The first piece holding a record written before one of the piece before; pieces_.size() when
// the pieces, in the order of their hours, hold the records in written order too.
std::size_t HourLoader::outOfWrittenOrder() const {
    for (std::size_t p = 1; p < pieces_.size(); ++p)
        if (pieces_[p].firstId <= pieces_[p - 1].lastId)
            return p;
    return pieces_.size();
}

// Reads two pieces whose records were written into each other's hours from their rows as one,
// until every piece follows the one before in written order.
bool HourLoader::keepWrittenOrder() {
    for (std::size_t at; (at = outOfWrittenOrder()) < pieces_.size();) {
        Piece& before = pieces_[at - 1];
        before.to = pieces_[at].to;
        before.toIncluded = pieces_[at].toIncluded;
        pieces_.erase(pieces_.begin() + static_cast<std::ptrdiff_t>(at));
        if (!rereadRows(at - 1))
            return false;
        // Rows read on from the piece before it read again after the new one.
        if (at < pieces_.size() && pieces_[at].hour.empty() && !rereadRows(at))
            return false;
    }
    return true;
}

std::int64_t HourLoader::gapMs() const {
    std::vector<WeightedSpacing> spacings;
    std::optional<std::int64_t> before;
    auto spacing = [&](std::int64_t t, std::int64_t count = 1) {
        if (before && t > *before)
            spacings.push_back({t - *before, count});
        before = t;
    };
    for (const Piece& p : pieces_) {
        if (p.hour.empty()) {
            for (const std::int64_t t : p.timesMs)
                spacing(t);
            continue;
        }
        const HourSummary& h = p.summary;
        spacing((h.firstWall - p.offsetSeconds) * 1000);
        if (h.steps > 0)
            spacings.push_back({(h.lastWall - h.firstWall) * 1000 / h.steps, h.steps});
        before = (h.lastWall - p.offsetSeconds) * 1000;
    }
    return weightedGapThresholdMs(std::move(spacings));
}

TrendData HourLoader::flatten() const {
    TrendData data;
    const auto lineCount = static_cast<std::size_t>(quantity_.lineCount);
    data.lines.resize(lineCount);
    for (const Piece& p : pieces_) {
        if (p.hour.empty()) {
            data.timesMs.insert(data.timesMs.end(), p.timesMs.begin(), p.timesMs.end());
            for (std::size_t l = 0; l < lineCount; ++l)
                data.lines[l].insert(data.lines[l].end(), p.lines[l].begin(), p.lines[l].end());
            data.joined.resize(data.timesMs.size(), 0);
            data.records += static_cast<std::int64_t>(p.timesMs.size());
            continue;
        }
        const HourSummary& h = p.summary;
        // The records that are some line's first, lowest, highest or last, in record order.
        std::vector<std::pair<std::int64_t, std::int64_t>> kept = {{0, h.firstWall},
                                                                   {h.records - 1, h.lastWall}};
        for (std::size_t l = 0; l < lineCount; ++l) {
            const HourSummary::Line& line = h.lines[columnOf_[l]];
            kept.emplace_back(line.lowRecord, line.lowWall);
            kept.emplace_back(line.highRecord, line.highWall);
        }
        std::sort(kept.begin(), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
        for (const auto& [record, wall] : kept) {
            data.timesMs.push_back((wall - p.offsetSeconds) * 1000);
            data.joined.push_back(record != 0);
            for (std::size_t l = 0; l < lineCount; ++l) {
                const HourSummary::Line& line = h.lines[columnOf_[l]];
                const Fixed* value = record == line.lowRecord    ? &line.low
                                     : record == line.highRecord ? &line.high
                                     : record == 0               ? &line.first
                                     : record == h.records - 1   ? &line.last
                                                                 : nullptr;
                data.lines[l].push_back(value ? static_cast<double>(*value) / 10000.0 : kUnknown);
            }
        }
        data.records += h.records;
    }
    return data;
}

std::optional<TrendLoad> HourLoader::load(const std::atomic_bool* cancel) {
    if (!rows_.ok() || !lastRows_.ok() || !readSummaryState())
        return std::nullopt;
    Statement hours(conn_, std::string("SELECT Hour, ") + kHourSummaryColumns +
                               " FROM Historyhour WHERE MeterID = ?1 AND Hour >= ?2 AND Hour <= "
                               "?3 ORDER BY Hour");
    hours.bind(1, selection_.meterText);
    hours.bind(2, selection_.from->substr(0, 13));
    hours.bind(3, *selection_.to);
    std::string cursor = *selection_.from;
    bool skipped = true; // rows before the first summed-up hour are read
    bool any = false;
    for (long long n = 1; hours.step(); ++n) {
        if (n % 4096 == 0 && cancel && cancel->load())
            return TrendLoad{PassStatus::Cancelled, {}, {}};
        std::string hour = hours.text(0);
        auto summary = readHourSummary(hours, 1, columnMask_);
        if (!summary || !usable(hour, *summary)) {
            skipped = true;
            continue;
        }
        if (skipped || somethingBetween(cursor, hour)) {
            Piece rows;
            if (!readRows(rows_, cursor, hour, pieces_.empty() ? nullptr : &pieces_.back(), rows))
                return std::nullopt;
            if (!rows.timesMs.empty())
                pieces_.push_back(std::move(rows));
        }
        skipped = false;
        any = true;
        cursor = *prefixEnd(hour);
        Piece piece;
        piece.from = hour;
        piece.to = cursor;
        piece.offsetSeconds = clock_.offsetAtWall(summary->firstWall);
        piece.firstId = summary->firstId;
        piece.lastId = summary->lastId;
        piece.summary = std::move(*summary);
        piece.hour = std::move(hour);
        pieces_.push_back(std::move(piece));
    }
    if (hours.failed() || !any)
        return std::nullopt;
    Piece tail;
    if (!readRows(lastRows_, cursor, *selection_.to, &pieces_.back(), tail))
        return std::nullopt;
    if (!tail.timesMs.empty())
        pieces_.push_back(std::move(tail));

    if (!keepWrittenOrder())
        return std::nullopt;
    // Hours with a gap inside are read from their rows, under the threshold of the whole.
    const std::int64_t gap = gapMs();
    for (std::size_t at = 0; at < pieces_.size(); ++at) {
        const Piece& p = pieces_[at];
        if (!p.hour.empty() && gap > 0 && p.summary.longestStep * 1000 > gap && !rereadRows(at))
            return std::nullopt;
    }
    TrendLoad load;
    load.data = flatten();
    load.data.gapMs = gap;
    load.data.snapMs = kHourMs;
    if (!std::is_sorted(load.data.timesMs.begin(), load.data.timesMs.end()))
        return std::nullopt; // times that go back: only the rows draw them as they stand
    return load;
}

} // namespace

std::int64_t weightedGapThresholdMs(std::vector<WeightedSpacing> spacings) {
    std::int64_t total = 0;
    for (const WeightedSpacing& s : spacings)
        total += s.count;
    if (total == 0)
        return 0;
    std::sort(spacings.begin(), spacings.end(),
              [](const WeightedSpacing& a, const WeightedSpacing& b) { return a.ms < b.ms; });
    const std::int64_t middle = (total - 1) / 2;
    std::int64_t seen = 0;
    for (const WeightedSpacing& s : spacings)
        if ((seen += s.count) > middle)
            return 2 * s.ms;
    return 0;
}

std::optional<TrendLoad> loadTrendFromHours(Database& conn, const HistorySelection& selection,
                                            const TrendQuantity& quantity,
                                            const std::atomic_bool* cancel) {
    if (!selection.from || !selection.to || quantity.lineCount == 0 || !conn.exec("BEGIN"))
        return std::nullopt;
    auto load = HourLoader(conn, selection, quantity).load(cancel);
    conn.exec("COMMIT");
    return load;
}

} // namespace mirv
