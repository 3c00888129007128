#pragma once

#include "pass_status.h"
#include "query_criteria.h"

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace mirv {

class Database;
class Statement;

struct PassOutcome {
    PassStatus status = PassStatus::Done;
    std::string error;
};

// Reads the Historydata rows of one meter or of all meters between the selection's bounds
// (both included, the step not used) in one pass in written order, inside one read
// transaction so that rows logged meanwhile never show up half way. `columns` are the
// selected columns, CreateTime first; `onRow` gets the statement at each row. Reports the
// part of the time range passed now and then, and stops soon after `*cancel` is set.
PassOutcome passOverRange(Database& conn, const HistorySelection& selection,
                          std::string_view columns, const ProgressCallback& onProgress,
                          const std::atomic_bool* cancel,
                          const std::function<void(const Statement&)>& onRow);

} // namespace mirv
