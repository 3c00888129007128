#pragma once

#include <optional>
#include <string>

namespace mirv {

struct PurgeResult {
    bool opened = false;                // false: nothing was tried, nothing deleted
    std::optional<std::string> failure; // the delete itself failed: why
};

// Deletes every row of Historydata (and its summaries) and notes in the event journal, in the
// same transaction, how many rows went and who asked (`user`, the operating system's name).
PurgeResult purgeHistory(const std::string& databasePath, const std::string& user = {});

} // namespace mirv
