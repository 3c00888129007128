#pragma once

#include "create_database.h"
#include "database.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mirv::test {

inline std::string schemaText() {
    std::ifstream in(MIRV_SCHEMA);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A program folder of the test's own with a fresh database made from the shipped schema.
class ProgramFolder {
  public:
    explicit ProgramFolder(bool withDatabase = true) {
        std::filesystem::create_directories(dir_.path() / "ports");
        if (withDatabase)
            if (auto e = createDatabase(databasePath(), schemaText()))
                throw std::runtime_error(*e);
    }
    std::string path() const { return dir_.str(); }
    std::string databasePath() const { return (dir_.path() / "mirv.mdb").string(); }

    // Runs SQL on the database, for setting up a case.
    void exec(const std::string& sql) const {
        Database db(databasePath());
        if (!db.exec(sql))
            throw std::runtime_error(db.error());
    }
    // Makes ports/comN a link to `device`.
    void linkPort(int n, const std::string& device) const {
        std::filesystem::create_symlink(device,
                                        dir_.path() / "ports" / ("com" + std::to_string(n)));
    }

  private:
    TempDir dir_;
};

} // namespace mirv::test
