#include "settings_row.h"

#include "database.h"
#include "meter_plan_reader.h"

namespace mirv {

namespace {

constexpr const char* kNoCurrentRow = "The settings table mirve has no row.";

SettingsField fieldOf(const Statement& row, const std::string& name) {
    for (int c = 0; c < row.columnCount(); ++c) {
        if (row.columnName(c) != name)
            continue;
        SettingsField f;
        if (row.isNull(c)) {
            f.error = "The settings field '" + name + "' is empty (NULL).";
            return f;
        }
        f.text = row.text(c);
        f.whole = row.wholeNumber(c);
        return f;
    }
    return {std::nullopt, std::nullopt, "The settings table mirve has no field '" + name + "'."};
}

} // namespace

SettingsRow readSettingsRow(const std::string& databasePath, bool readOnly) {
    SettingsRow out;
    // Start-up waits at most a second for a database another process holds.
    Database db(databasePath, 1000,
                readOnly ? Database::Access::ReadOnly : Database::Access::ReadWrite);
    Statement query(db, "select  * from mirve");
    if (!db.isOpen() || !query.ok()) {
        out.error = db.error();
    } else if (!query.step()) {
        out.error = query.failed() ? db.error() : kNoCurrentRow;
    } else {
        out.timer = fieldOf(query, "timer");
        out.minute = fieldOf(query, "minute");
        out.com = fieldOf(query, "com");
        out.Settings = fieldOf(query, "Settings");
        out.num = fieldOf(query, "num");
        return out;
    }
    for (SettingsField* f : {&out.timer, &out.minute, &out.com, &out.Settings, &out.num})
        f->error = out.error;
    return out;
}

namespace {

bool writeMeters(Database& db, const std::vector<PlannedMeter>& meters) {
    if (!db.exec(kMetersTableSql) || !db.exec("DELETE FROM Meters"))
        return false;
    Statement insert(db, "INSERT INTO Meters (Row, Address, Profile, Name, Polled) "
                         "VALUES (?1, ?2, ?3, ?4, ?5)");
    for (const PlannedMeter& m : meters) {
        insert.reset();
        insert.bind(1, std::int64_t{m.row});
        insert.bind(2, std::int64_t{m.address});
        insert.bind(3, m.profile);
        if (m.name.empty())
            insert.bindNull(4);
        else
            insert.bind(4, m.name);
        insert.bind(5, std::int64_t{m.polled ? 1 : 0});
        insert.step();
        if (insert.failed() || !insert.ok())
            return false;
    }
    return true;
}

} // namespace

std::optional<std::vector<PlannedMeter>> readMeterEntries(const std::string& databasePath) {
    std::vector<PlannedMeter> out;
    Database db(databasePath, 0, Database::Access::ReadOnly);
    if (!db.isOpen())
        return std::nullopt;
    {
        Statement has(db, "SELECT EXISTS (SELECT 1 FROM sqlite_schema WHERE type = 'table' "
                          "AND name = 'Meters')");
        if (!has.step())
            return std::nullopt;
        if (has.integer(0) == 0)
            return out;
    }
    Statement q(db, "SELECT Row, Address, Profile, Name, Polled FROM Meters ORDER BY Row");
    while (q.ok() && q.step())
        out.push_back({static_cast<int>(q.integer(0)), static_cast<int>(q.integer(1)), q.text(2),
                       q.isNull(3) ? std::string() : q.text(3), q.integer(4) != 0});
    if (!q.ok() || q.failed())
        return std::nullopt;
    return out;
}

std::optional<std::string> writeSettingsRow(const std::string& databasePath,
                                            const SettingsUpdate& update) {
    Database db(databasePath);
    if (!db.isOpen())
        return db.error();
    if (!db.exec("BEGIN IMMEDIATE"))
        return db.error();
    auto failed = [&db](std::string why) -> std::optional<std::string> {
        db.exec("ROLLBACK");
        return why;
    };
    Statement write(db,
                    R"(UPDATE mirve SET "timer" = ?1, "minute" = ?2, "com" = COALESCE(?3, "com"),
                           "num" = ?4, "Settings" = ?5
                           WHERE rowid = (SELECT rowid FROM mirve LIMIT 1))");
    write.bind(1, update.timer);
    write.bind(2, update.minute);
    if (update.com)
        write.bind(3, std::int64_t{*update.com});
    else
        write.bindNull(3);
    write.bind(4, update.num);
    write.bind(5, update.Settings);
    write.step();
    if (write.failed() || !write.ok())
        return failed(db.error());
    if (db.changes() != 1)
        return failed(kNoCurrentRow);
    if (update.meters && !writeMeters(db, *update.meters))
        return failed(db.error());
    if (!db.exec("COMMIT"))
        return failed(db.error());
    return std::nullopt;
}

} // namespace mirv
