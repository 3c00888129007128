#include "meter_plan_reader.h"

#include "database.h"
#include "readings_board.h"

#include <algorithm>
#include <map>
#include <optional>

namespace mirv {

const char* const kMetersTableSql =
    "CREATE TABLE IF NOT EXISTS Meters (Row INTEGER PRIMARY KEY, Address INTEGER NOT NULL, "
    "Profile TEXT NOT NULL, Name TEXT, Polled INTEGER NOT NULL DEFAULT 1);";

namespace {

struct Entry {
    std::int64_t address = 0;
    std::string profile;
    std::string name;
    bool polled = true;
};

// The table's entries by row, or the failure.
std::optional<std::map<int, Entry>> entries(Database& db, std::string& failure) {
    std::map<int, Entry> byRow;
    if (!db.isOpen()) {
        failure = db.error();
        return std::nullopt;
    }
    {
        Statement has(db, "SELECT EXISTS (SELECT 1 FROM sqlite_schema WHERE type = 'table' "
                          "AND name = 'Meters')");
        if (!has.step()) {
            failure = db.error();
            return std::nullopt;
        }
        if (has.integer(0) == 0)
            return byRow;
    }
    Statement q(db, "SELECT Row, Address, Profile, Name, Polled FROM Meters "
                    "WHERE Row BETWEEN 1 AND " +
                        std::to_string(kMeters) + " ORDER BY Row");
    while (q.step())
        byRow[static_cast<int>(q.integer(0))] = {q.integer(1), q.text(2), q.text(3),
                                                 q.integer(4) != 0};
    if (q.failed() || !q.ok()) {
        failure = db.error();
        return std::nullopt;
    }
    return byRow;
}

} // namespace

MeterNames readMeterNames(Database& db) {
    std::string failure;
    const auto byRow = entries(db, failure);
    std::map<int, std::string> byAddress;
    if (byRow)
        for (const auto& entry : *byRow)
            if (const Entry& e = entry.second;
                e.address >= kLowestAddress && e.address <= kHighestMeterAddress)
                byAddress.emplace(static_cast<int>(e.address), e.name);
    return MeterNames(byAddress);
}

MeterNames readJournalMeterNames(Database& db) {
    std::string failure;
    const auto byRow = entries(db, failure);
    std::map<int, std::string> named;
    if (byRow)
        for (const auto& [row, e] : *byRow)
            if (ReadingsBoard::isMeter(row))
                named.emplace(row, e.name);
    return MeterNames(named);
}

MeterNames readJournalMeterNames(const std::string& dbPath) {
    Database db(dbPath, 1000, Database::Access::ReadOnly);
    return readJournalMeterNames(db);
}

MeterNames readMeterNames(const std::string& dbPath) {
    Database db(dbPath, 1000, Database::Access::ReadOnly);
    return readMeterNames(db);
}

MeterPlan readMeterPlan(const std::string& dbPath, int meterCount) {
    std::string failure;
    Database db(dbPath, 1000, Database::Access::ReadOnly);
    const auto byRow = entries(db, failure);
    if (!byRow) {
        MeterPlan plan = rowNumberPlan(meterCount);
        plan.refusals.push_back(dbPath + ": Meters: " + failure);
        return plan;
    }
    MeterPlan plan;
    std::map<int, int> rowOfAddress;
    for (int row = 1; row <= std::min(meterCount, kMeters); ++row) {
        PlannedMeter meter = meterAtRow(row);
        const auto it = byRow->find(row);
        const std::string where = dbPath + ": Meters row " + std::to_string(row) + ": ";
        if (it != byRow->end()) {
            const Entry& e = it->second;
            if (e.address < kLowestAddress || e.address > kHighestMeterAddress) {
                plan.refusals.push_back(where + "Address: " + std::to_string(e.address) +
                                        " is not in 1..247");
                continue;
            }
            if (e.profile.empty()) {
                plan.refusals.push_back(where + "Profile: empty");
                continue;
            }
            meter = {row, static_cast<int>(e.address), e.profile, e.name, e.polled};
        }
        if (const auto [at, fresh] = rowOfAddress.emplace(meter.address, row); !fresh) {
            plan.refusals.push_back(where + "Address: " + std::to_string(meter.address) +
                                    " is row " + std::to_string(at->second) + "'s already");
            continue;
        }
        plan.meters.push_back(std::move(meter));
    }
    return plan;
}

} // namespace mirv
