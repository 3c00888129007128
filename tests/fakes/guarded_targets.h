#pragma once

#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace mirv::test {

// One of the station's files in a program folder, and how a refusal names it.
struct StationFile {
    std::string name;
    std::string what;
};

// Every file of the station's beside the database `folder`/mirv.mdb, written out by hand.
inline std::vector<StationFile> stationFiles(const std::string& folder) {
    const std::string db = folder + "/mirv.mdb";
    std::vector<StationFile> files{
        {"mirv.mdb", "the station's database " + db},
        {"mirv.mdb-wal", "the write-ahead log of the database " + db},
        {"mirv.mdb-shm", "the shared memory file of the database " + db},
        {"mirv.mdb-journal", "the rollback journal of the database " + db},
        {"mirv.mdb-pending.csv", "the file of history rows waiting for " + db},
        {"mirv.mdb-events.csv", "the file of journal rows waiting for " + db},
    };
    for (const char* name : {"uplink.id", "uplink.conf", "mirv-station.lock", "notify.conf",
                             "mqtt.conf", "web.conf", "web.passwd", "web-cert.pem", "web-key.pem"})
        files.push_back({name, std::string("the station's ") + name + " in " + folder});
    return files;
}

// Writes the station files SQLite does not keep (the pending rows, the journal's spool, the
// identity, the configuration, the lock) into `folder` with bytes of their own.
inline void writeStationFiles(const std::string& folder) {
    for (const StationFile& f : stationFiles(folder))
        if (f.name.rfind("mirv.mdb", 0) != 0 || f.name.ends_with(".csv"))
            std::ofstream(folder + "/" + f.name) << "bytes of " << f.name << "\n";
}

// A name a save may be given that leads to one of the station's files.
struct GuardedTarget {
    std::string how; // direct, hard link, ...
    std::string target;
    std::string file;
    std::string what;
    bool there; // the file is there, not only its name
};

// Each station file of `folder` reached directly, by a hard link, an absolute symbolic link, a
// relative one in another folder and a chain of relative ones through two folders; a file not
// there is reached the same ways but the hard link.
class GuardedTargets {
  public:
    explicit GuardedTargets(const std::string& folder) {
        namespace fs = std::filesystem;
        const fs::path sub = elsewhere_.path() / "sub";
        fs::create_directories(sub);
        for (const StationFile& f : stationFiles(folder)) {
            const fs::path file = fs::path(folder) / f.name;
            const bool there = fs::exists(file);
            targets_.push_back({"direct", file.string(), file.string(), f.what, there});
            if (there) {
                fs::create_hard_link(file, elsewhere_.path() / ("hard-" + f.name));
                targets_.push_back({"hard link", (elsewhere_.path() / ("hard-" + f.name)).string(),
                                    file.string(), f.what, there});
            }
            fs::create_symlink(file, elsewhere_.path() / ("abs-" + f.name));
            fs::create_symlink(fs::relative(file, sub), sub / ("rel-" + f.name));
            fs::create_symlink(fs::path("sub") / ("rel-" + f.name),
                               elsewhere_.path() / ("chain-" + f.name));
            for (const char* how : {"abs", "chain"})
                targets_.push_back({how, (elsewhere_.path() / (how + ("-" + f.name))).string(),
                                    file.string(), f.what, there});
            targets_.push_back(
                {"relative", (sub / ("rel-" + f.name)).string(), file.string(), f.what, there});
            before_.push_back(there ? bytes(file.string()) : std::string());
            present_.push_back(there);
        }
        files_ = stationFiles(folder);
        folder_ = folder;
    }
    const std::vector<GuardedTarget>& targets() const { return targets_; }

    // The station files whose bytes changed, or that appeared, since the links were laid.
    std::string changed() const {
        std::string changed;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::string path = folder_ + "/" + files_[i].name;
            const bool there = std::filesystem::exists(path);
            if (there != present_[i] || (there && bytes(path) != before_[i]))
                changed += files_[i].name + " ";
        }
        return changed;
    }

    static std::string bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    TempDir elsewhere_;
    std::string folder_;
    std::vector<StationFile> files_;
    std::vector<GuardedTarget> targets_;
    std::vector<std::string> before_;
    std::vector<bool> present_;
};

} // namespace mirv::test
