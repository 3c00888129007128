#include "purge.h"

#include "database.h"

namespace mirv {

PurgeResult purgeHistory(const std::string& databasePath) {
    Database db(databasePath);
    if (!db.isOpen())
        return {};
    if (!db.exec("DELETE FROM Historydata"))
        return {true, db.error()};
    return {true, std::nullopt};
}

} // namespace mirv
