#include "settings_row.h"

#include "database.h"

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

SettingsRow readSettingsRow(const std::string& databasePath) {
    SettingsRow out;
    // Start-up waits at most a second for a database another process holds.
    Database db(databasePath, 1000);
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

std::optional<std::string> writeSettingsRow(const std::string& databasePath,
                                            const SettingsUpdate& update) {
    Database db(databasePath);
    if (!db.isOpen())
        return db.error();
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
        return db.error();
    if (db.changes() != 1)
        return kNoCurrentRow;
    return std::nullopt;
}

} // namespace mirv
