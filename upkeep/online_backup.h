#pragma once

#include "protected_files.h"
#include "station_database.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace mirv {

struct BackupOptions {
    // Pages copied in one step; the source is read-locked for no longer than one step.
    int pagesPerStep = 1024;
    // Pages written between two syncs of the copy.
    int syncEveryPages = 1024;
    // Rest between steps when the source is not in WAL mode, so that a waiting writer gets in.
    std::chrono::milliseconds pause{30};
    // Hears pages copied and pages in all; returns false to stop.
    std::function<bool(int copied, int total)> progress;
    // The station's files the copy must not be written over, besides the source and the
    // files beside it.
    ProtectedFiles station;
};

struct BackupResult {
    std::optional<DatabaseFailure> failure;
    bool stopped = false; // progress asked to stop; nothing was written
    int pages = 0;
};

// Copies the database open on `source` (the file `sourcePath`) into `target` while others go
// on writing. In WAL mode the copy is the database as it was when the backup began, and
// writers never wait for it; otherwise it is taken in short steps, restarting when a writer
// changes the source. The copy must pass PRAGMA integrity_check before it replaces `target`;
// until then an existing `target` stays as it was.
BackupResult backupDatabase(Database& source, const std::string& sourcePath,
                            const std::string& target, int busyTimeoutMs,
                            const BackupOptions& options = {});

} // namespace mirv
