#include "energy_use.h"

#include "database.h"
#include "local_seconds.h"
#include "meter_energy_tally.h"
#include "range_pass.h"

#include <algorithm>
#include <map>
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

EnergyUse computeEnergyUse(const std::string& databasePath, const HistorySelection& selection,
                           const ProgressCallback& onProgress, const std::atomic_bool* cancel) {
    Database conn(databasePath, 2000, Database::Locking::OneThread);
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
                    tallies.emplace_back(std::string(meter));
                t = found->second;
            }
            next = t + 1 == tallies.size() ? 0 : t + 1;
            const std::string_view time = row.textView(0);
            tallies[t].add(time, clock.of(time),
                           {row.textView(2), row.textView(3), row.textView(4), row.textView(5)});
        });
    EnergyUse use{pass.status, pass.error, {}};
    if (pass.status != PassStatus::Done)
        return use;
    for (const MeterEnergyTally& tally : tallies)
        use.meters.push_back(tally.result());
    std::sort(use.meters.begin(), use.meters.end(), [](const auto& a, const auto& b) {
        return meterOrder(a.meterId) < meterOrder(b.meterId);
    });
    return use;
}

} // namespace mirv
