#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <sqlite3.h>
#include <utility>

namespace mirv::test {

// While it lives, SQLite's default file system is the system's own with every sync of a
// file counted (the database, its WAL, a journal). Connections opened meanwhile must be
// closed before it ends.
class SyncCountingVfs {
  public:
    SyncCountingVfs() {
        base() = sqlite3_vfs_find(nullptr);
        vfs_ = *base();
        vfs_.zName = "mirv-sync-counting";
        vfs_.xOpen = &open;
        sqlite3_vfs_register(&vfs_, 1);
    }
    ~SyncCountingVfs() {
        sqlite3_vfs_unregister(&vfs_);
        sqlite3_vfs_register(base(), 1);
    }
    SyncCountingVfs(const SyncCountingVfs&) = delete;
    SyncCountingVfs& operator=(const SyncCountingVfs&) = delete;

    static int syncs() { return count(); }
    static void reset() { count() = 0; }

  private:
    static sqlite3_vfs*& base() {
        static sqlite3_vfs* v = nullptr;
        return v;
    }
    static std::atomic<int>& count() {
        static std::atomic<int> c{0};
        return c;
    }
    // Each kind of file's methods, and the same with xSync counted.
    // (a deque: the copies stay where they are as more come)
    static std::deque<std::pair<const sqlite3_io_methods*, sqlite3_io_methods>>& kinds() {
        static std::deque<std::pair<const sqlite3_io_methods*, sqlite3_io_methods>> k;
        return k;
    }
    static std::mutex& kindsMutex() {
        static std::mutex m;
        return m;
    }
    static int sync(sqlite3_file* f, int flags) {
        ++count();
        std::lock_guard lock(kindsMutex());
        for (const auto& [original, counted] : kinds())
            if (&counted == f->pMethods)
                return original->xSync(f, flags);
        return SQLITE_IOERR_FSYNC;
    }
    static int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags,
                    int* outFlags) {
        const int rc = base()->xOpen(base(), name, f, flags, outFlags);
        if (rc != SQLITE_OK || !f->pMethods)
            return rc;
        std::lock_guard lock(kindsMutex());
        for (const auto& [original, counted] : kinds())
            if (original == f->pMethods) {
                f->pMethods = &counted;
                return rc;
            }
        auto& [original, counted] = kinds().emplace_back(f->pMethods, *f->pMethods);
        counted.xSync = &sync;
        f->pMethods = &counted;
        return rc;
    }

    sqlite3_vfs vfs_{};
};

} // namespace mirv::test
