#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mirv {

// What keeps a file from being the station's database.
struct StationFileProblem {
    enum Kind { Missing, Unusable, MissingTables } kind = Unusable;
    std::string reason;              // the system's, for Missing and Unusable
    std::vector<std::string> tables; // for MissingTables: mirve, Historydata or both
};

// Whether `path` is a database holding the settings table mirve and the history table
// Historydata. Only reads: a file it finds wanting is left exactly as it was.
std::optional<StationFileProblem> checkStationFile(const std::string& path, int busyTimeoutMs);

} // namespace mirv
