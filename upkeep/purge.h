#pragma once

#include <optional>
#include <string>

namespace mirv {

struct PurgeResult {
    bool opened = false;                // false: nothing was tried, nothing deleted
    std::optional<std::string> failure; // the delete itself failed: why
};

// Deletes every row of Historydata and nothing else.
PurgeResult purgeHistory(const std::string& databasePath);

} // namespace mirv
