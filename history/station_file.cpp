#include "station_file.h"

#include "database.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace mirv {

std::optional<StationFileProblem> checkStationFile(const std::string& path, int busyTimeoutMs) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return StationFileProblem{errno == ENOENT ? StationFileProblem::Missing
                                                  : StationFileProblem::Unusable,
                                  std::strerror(errno),
                                  {}};
    if (!S_ISREG(st.st_mode))
        return StationFileProblem{StationFileProblem::Unusable, std::strerror(EISDIR), {}};
    Database db(path, busyTimeoutMs);
    Statement tables(db, "SELECT lower(name) FROM sqlite_schema WHERE type = 'table' "
                         "AND lower(name) IN ('mirve', 'historydata')");
    bool settings = false, history = false;
    while (tables.ok() && tables.step()) {
        settings = settings || tables.text(0) == "mirve";
        history = history || tables.text(0) == "historydata";
    }
    if (!db.isOpen() || !tables.ok() || tables.failed())
        return StationFileProblem{StationFileProblem::Unusable, db.error(), {}};
    if (settings && history)
        return std::nullopt;
    StationFileProblem missing{StationFileProblem::MissingTables, {}, {}};
    if (!settings)
        missing.tables.push_back("mirve");
    if (!history)
        missing.tables.push_back("Historydata");
    return missing;
}

} // namespace mirv
