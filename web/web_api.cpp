#include "web_api.h"

#include "database.h"
#include "energy_csv.h"
#include "energy_table.h"
#include "energy_use.h"
#include "event_journal.h"
#include "local_seconds.h"
#include "meter_plan_reader.h"
#include "trend_data.h"
#include "trend_reduction.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace mirv {

namespace {

using nlohmann::json;

// The journal's answer keeps the latest rows of a long period, so that it stays a page.
constexpr std::size_t kMostEvents = 2000;

ApiAnswer jsonAnswer(const json& j, int status = 200) {
    return {status, "application/json", j.dump(-1, ' ', false, json::error_handler_t::replace)};
}

ApiAnswer problem(int status, const std::string& text) {
    return jsonAnswer({{"error", text}}, status);
}

HistorySelection selectionOf(const PeriodQuery& q) {
    return selectionFrom({q.meter, q.from, q.to, "1"});
}

} // namespace

ApiAnswer energyAnswer(const std::string& databasePath, const PeriodQuery& query, bool asCsv) {
    const HistorySelection selection = selectionOf(query);
    if (selection.selectsNothing())
        return problem(400, "起止时间无效");
    const EnergyUse use = computeEnergyUse(databasePath, selection);
    if (use.status != PassStatus::Done)
        return problem(500, use.error);
    if (asCsv)
        return {200, "text/csv; charset=utf-8", energyCsv(use.meters, use.names)};
    json rows = json::array();
    for (const EnergyRowTexts& row : energyTableTexts(use.meters, use.names))
        rows.push_back(row);
    json captions = json::array();
    for (const std::string_view caption : kEnergyCaptions)
        captions.push_back(caption);
    return jsonAnswer({{"captions", captions}, {"rows", rows}});
}

ApiAnswer quantitiesAnswer() {
    json list = json::array();
    for (const TrendQuantity& q : trendQuantities())
        if (q.lineCount > 0)
            list.push_back({{"index", &q - trendQuantities().data()},
                            {"caption", q.caption},
                            {"unit", q.unit},
                            {"decimals", q.decimals}});
    return jsonAnswer(list);
}

ApiAnswer trendAnswer(const std::string& databasePath, const PeriodQuery& query, int quantity,
                      int points) {
    const auto quantities = trendQuantities();
    if (quantity < 0 || quantity >= static_cast<int>(quantities.size()) ||
        quantities[quantity].lineCount == 0)
        return problem(400, "没有这个量");
    HistorySelection selection = selectionOf(query);
    if (selection.selectsNothing() || selection.allMeters)
        return problem(400, "请选择一台仪表和起止时间");
    LocalSeconds clock;
    const std::int64_t fromMs = clock.of(*selection.from).value_or(0) * 1000;
    const std::int64_t toMs = std::max(clock.of(*selection.to).value_or(0) * 1000, fromMs + 1);
    const TrendQuantity& q = quantities[quantity];
    const TrendLoad load = loadTrend(databasePath, selection, q, {}, nullptr, points);
    if (load.status != PassStatus::Done)
        return problem(500, load.error);
    const TrendData& data = load.data;
    const std::string label = readMeterNames(databasePath).label(selection.meterText);
    json lines = json::array();
    for (int l = 0; l < q.lineCount && l < static_cast<int>(data.lines.size()); ++l) {
        json runs = json::array();
        for (const TrendRun& run : reduceTrend(data.timesMs, data.lines[l], data.gapMs, fromMs,
                                               toMs, points, data.joined, data.snapMs)) {
            json pts = json::array();
            for (const TrendPoint& p : run)
                if (std::isfinite(p.value))
                    pts.push_back({p.timeMs, p.value});
            runs.push_back(std::move(pts));
        }
        lines.push_back({{"caption", q.lines[l].caption}, {"runs", std::move(runs)}});
    }
    return jsonAnswer({{"caption", q.caption},
                       {"label", label},
                       {"unit", q.unit},
                       {"decimals", q.decimals},
                       {"fromMs", fromMs},
                       {"toMs", toMs},
                       {"records", data.records},
                       {"lines", std::move(lines)}});
}

ApiAnswer journalAnswer(const std::string& databasePath, const PeriodQuery& query) {
    Database db(databasePath, 2000, Database::Access::ReadOnly);
    if (!db.isOpen())
        return problem(500, db.error());
    int meter = 0;
    if (!query.meter.empty() && query.meter != "全部") {
        try {
            meter = std::stoi(query.meter);
        } catch (const std::exception&) {
            return problem(400, "仪表编号无效");
        }
    }
    const MeterNames names = readJournalMeterNames(db);
    std::vector<EventRow> rows;
    if (auto failed = readEvents(db, query.from, query.to, meter, rows))
        return problem(500, *failed);
    const std::size_t skip = rows.size() > kMostEvents ? rows.size() - kMostEvents : 0;
    json events = json::array();
    for (std::size_t i = skip; i < rows.size(); ++i) {
        const EventRow& e = rows[i];
        events.push_back({{"time", e.localTime},
                          {"meter", e.meter},
                          {"label", names.label(e.meter)},
                          {"kind", e.kind},
                          {"phase", e.phase},
                          {"text", e.text},
                          {"detail", e.detail},
                          {"user", e.user}});
    }
    return jsonAnswer({{"events", std::move(events)}, {"left", skip}});
}

} // namespace mirv
