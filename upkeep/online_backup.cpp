#include "online_backup.h"

#include "output_file.h"
#include "protected_files.h"

#include <filesystem>
#include <sqlite3.h>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mirv {

namespace fs = std::filesystem;

namespace {

bool inWalMode(Database& db) {
    Statement mode(db, "PRAGMA journal_mode");
    return mode.step() && mode.text(0) == "wal";
}

// Copies every page of `source` into `copy`, step by step.
BackupResult copyPages(Database& source, const std::string& sourcePath, Database& copy, int copyFd,
                       const std::string& target, int busyTimeoutMs, bool pinned,
                       const BackupOptions& options) {
    BackupResult result;
    sqlite3_backup* backup = sqlite3_backup_init(copy.handle(), "main", source.handle(), "main");
    if (!backup) {
        copy.setError(sqlite3_errmsg(copy.handle()));
        result.failure = DatabaseFailure{DatabaseFailure::Failed,
                                         "cannot back up into " + target + ": " + copy.error()};
        return result;
    }
    auto busySince = std::chrono::steady_clock::now();
    int rc = SQLITE_OK;
    int unsynced = 0;
    while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        rc = sqlite3_backup_step(backup, options.pagesPerStep);
        const int total = sqlite3_backup_pagecount(backup);
        result.pages = total;
        if (options.progress &&
            !options.progress(total - sqlite3_backup_remaining(backup), total)) {
            result.stopped = true;
            break;
        }
        const bool busy = rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
        if (!busy)
            busySince = std::chrono::steady_clock::now();
        else if (std::chrono::steady_clock::now() - busySince >
                 std::chrono::milliseconds(busyTimeoutMs))
            break;
        if (busy || (!pinned && rc == SQLITE_OK))
            std::this_thread::sleep_for(options.pause);
        // The copy goes to disk as it grows: a backlog of gigabytes flushed at the end would
        // stall every other program's sync, the station's commits among them.
        if ((unsynced += options.pagesPerStep) >= options.syncEveryPages) {
            ::fdatasync(copyFd);
            unsynced = 0;
        }
    }
    sqlite3_backup_finish(backup);
    if (result.stopped || rc == SQLITE_DONE)
        return result;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        result.failure = lockedFailure(sourcePath, busyTimeoutMs);
    } else {
        result.failure = DatabaseFailure{DatabaseFailure::Failed, "cannot back up into " + target +
                                                                      ": " + sqlite3_errstr(rc)};
    }
    return result;
}

std::optional<DatabaseFailure> checkIntegrity(Database& copy, const std::string& target) {
    Statement check(copy, "PRAGMA integrity_check");
    // The verdict is "ok", or up to a hundred problems, some of them several lines long: the
    // first one is told, and how many more there are.
    std::vector<std::string> problems;
    while (check.step()) {
        std::istringstream lines(check.text(0));
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && !line.starts_with("***"))
                problems.push_back(line);
    }
    if (!check.failed() && problems.size() == 1 && problems[0] == "ok")
        return std::nullopt;
    std::string verdict = check.failed()     ? copy.error()
                          : problems.empty() ? std::string("no verdict")
                                             : problems[0];
    if (!check.failed() && problems.size() > 1)
        verdict += " (and " + std::to_string(problems.size() - 1) + " more problems)";
    return DatabaseFailure{DatabaseFailure::Failed,
                           "the copy for " + target + " failed its integrity check: " + verdict};
}

} // namespace

BackupResult backupDatabase(Database& source, const std::string& sourcePath,
                            const std::string& target, int busyTimeoutMs,
                            const BackupOptions& options) {
    BackupResult result;
    ProtectedFiles station = options.station;
    station.databases.push_back(sourcePath);
    OutputFile file(target, station, true);
    if (!file.ok()) {
        result.failure = DatabaseFailure{DatabaseFailure::Failed, file.error()};
        return result;
    }
    {
        Database copy(file.path(), busyTimeoutMs);
        if (!copy.isOpen() || !copy.exec("PRAGMA synchronous = OFF")) {
            result.failure = DatabaseFailure{DatabaseFailure::Failed,
                                             "cannot write " + target + ": " + copy.error()};
            return result;
        }
        // In WAL mode one read transaction held for the whole copy pins the snapshot: writers
        // go on appending to the WAL and the backup never has to restart.
        const bool pinned = inWalMode(source);
        if (pinned) {
            Statement begin(source, "BEGIN");
            Statement read(source, "SELECT count(*) FROM sqlite_schema");
            if (!begin.ok() || !read.ok()) {
                result.failure = failureOf(source, sourcePath, busyTimeoutMs);
                return result;
            }
            begin.step();
            if (!read.step()) {
                result.failure = failureOf(source, sourcePath, busyTimeoutMs);
                source.exec("ROLLBACK");
                return result;
            }
            read.reset(); // the transaction keeps the snapshot until COMMIT
        }
        result =
            copyPages(source, sourcePath, copy, file.fd(), target, busyTimeoutMs, pinned, options);
        if (pinned)
            source.exec("COMMIT");
        if (result.failure || result.stopped)
            return result;
        if (auto bad = checkIntegrity(copy, target)) {
            result.failure = bad;
            return result;
        }
    }
    if (auto failed = file.commit())
        result.failure = DatabaseFailure{DatabaseFailure::Failed, *failed};
    return result;
}

} // namespace mirv
