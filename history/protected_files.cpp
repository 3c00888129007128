#include "protected_files.h"

#include "event_spool.h"
#include "pending_rows.h"

#include <filesystem>
#include <sys/stat.h>

namespace mirv {

namespace fs = std::filesystem;

namespace {

struct Protected {
    std::string path;
    std::string what;
};

std::vector<Protected> protectedList(const ProtectedFiles& files) {
    std::vector<Protected> list;
    for (const std::string& db : files.databases) {
        list.push_back({db, "the station's database " + db});
        list.push_back({db + "-wal", "the write-ahead log of the database " + db});
        list.push_back({db + "-shm", "the shared memory file of the database " + db});
        list.push_back({db + "-journal", "the rollback journal of the database " + db});
        list.push_back({pendingRowsPath(db), "the file of history rows waiting for " + db});
        list.push_back({eventSpoolPath(db), "the file of journal rows waiting for " + db});
    }
    auto addStationFiles = [&list](const std::string& folder) {
        for (const std::string& name : stationFileNames())
            list.push_back(
                {(fs::path(folder) / name).string(), "the station's " + name + " in " + folder});
    };
    if (!files.programDir.empty()) {
        for (const std::string& name : shippedFileNames())
            list.push_back({(fs::path(files.programDir) / name).string(),
                            name + ", which the program folder " + files.programDir + " ships"});
        addStationFiles(files.programDir);
    }
    for (const std::string& db : files.databases) {
        const fs::path folder = fs::path(db).parent_path();
        addStationFiles(folder.empty() ? "." : folder.string());
    }
    return list;
}

bool sameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder (by device and inode) and the name of `path`.
bool sameFolderAndName(const fs::path& a, const fs::path& b) {
    if (a.filename() != b.filename() || a.filename().empty())
        return false;
    struct stat sa {
    }, sb{};
    const fs::path fa = a.parent_path().empty() ? "." : a.parent_path();
    const fs::path fb = b.parent_path().empty() ? "." : b.parent_path();
    return ::stat(fa.c_str(), &sa) == 0 && ::stat(fb.c_str(), &sb) == 0 && sameInode(sa, sb);
}

// Where a chain of symbolic links ends, also when its last link names a file not there yet
// (a write-ahead log a reader is about to make).
fs::path finalPath(fs::path p) {
    for (int links = 0; links < 40; ++links) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec)))
            break;
        const fs::path next = fs::read_symlink(p, ec);
        if (ec)
            break;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return p;
}

std::string refusal(const std::string& name, const Protected& p) {
    return "refusing to write " + name + ": it is " + p.what;
}

} // namespace

const std::vector<std::string>& shippedFileNames() {
    static const std::vector<std::string> names{
        "mirv-station", "mirv-history", "mirv-uplink", "mirv.mdb", "MirvReport.xls", "ports",
    };
    return names;
}

const std::vector<std::string>& stationFileNames() {
    static const std::vector<std::string> names{
        "uplink.id", "uplink.conf", "mirv-station.lock", "notify.conf", "mqtt.conf",
        "web.conf",  "web.passwd",  "web-cert.pem",      "web-key.pem",
    };
    return names;
}

std::optional<std::string> refusedOutput(const std::string& target, const ProtectedFiles& files) {
    struct stat out {};
    const bool exists = ::stat(target.c_str(), &out) == 0;
    const fs::path resolved = finalPath(target);
    for (const Protected& p : protectedList(files)) {
        struct stat st {};
        if (exists && ::stat(p.path.c_str(), &st) == 0 && sameInode(out, st))
            return refusal(target, p);
        if (sameFolderAndName(target, p.path) || sameFolderAndName(resolved, p.path))
            return refusal(target, p);
    }
    return std::nullopt;
}

std::optional<std::string> refusedOutput(int fd, const std::string& name,
                                         const ProtectedFiles& files) {
    struct stat out {};
    if (::fstat(fd, &out) != 0 || !S_ISREG(out.st_mode))
        return std::nullopt;
    for (const Protected& p : protectedList(files)) {
        struct stat st {};
        if (::stat(p.path.c_str(), &st) == 0 && sameInode(out, st))
            return refusal(name, p);
    }
    return std::nullopt;
}

} // namespace mirv
