// No command of mirv-history writes over one of the station's files, whatever name leads
// there; the refusal is one line and a failing status, and the file keeps its bytes.
#include "database.h"
#include "guarded_targets.h"
#include "program_folder.h"
#include "run_program.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

namespace fs = std::filesystem;

// A command that writes a file, as its arguments before the output's name.
struct Door {
    const char* name;
    std::vector<std::string> args;
};

const Door kDoors[] = {
    {"export_csv",
     {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "csv", "--output"}},
    {"export_xlsx",
     {"export", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "xlsx", "--output"}},
    {"energy_csv",
     {"energy", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "csv", "--output"}},
    {"energy_xlsx",
     {"energy", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "xlsx", "--output"}},
    {"linkstats_csv", {"linkstats", "--from", "2026-05-06", "--to", "2026-05-07", "--output"}},
    {"linkstats_xlsx",
     {"linkstats", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "xlsx", "--output"}},
    {"events_csv", {"events", "--from", "2026-05-06", "--to", "2026-05-07", "--output"}},
    {"events_xlsx",
     {"events", "--from", "2026-05-06", "--to", "2026-05-07", "--format", "xlsx", "--output"}},
    {"backup", {"backup"}},
};

void PrintTo(const Door& door, std::ostream* out) {
    *out << door.name;
}

struct OutputGuard : testing::TestWithParam<Door> {
    void refuseEach(const test::GuardedTargets& targets, bool onlyNamesNotThere = false) {
        for (const test::GuardedTarget& t : targets.targets()) {
            if (onlyNamesNotThere && t.there)
                continue;
            SCOPED_TRACE(t.how + " " + t.target);
            std::vector<std::string> args{MIRV_HISTORY_TOOL, "--db", folder.databasePath()};
            args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
            args.push_back(t.target);
            const test::ProgramRun run = test::runProgram(args);
            EXPECT_EQ(run.status, 2);
            EXPECT_EQ(run.err,
                      "mirv-history: refusing to write " + t.target + ": it is " + t.what + "\n");
            EXPECT_EQ(targets.changed(), "");
        }
    }
    test::ProgramFolder folder;
};

TEST_P(OutputGuard, RefusesEveryStationFileByEveryName) {
    test::writeStationFiles(folder.path());
    {
        // Nothing has the database open: no -wal, -shm or -journal yet.
        const test::GuardedTargets before(folder.path());
        refuseEach(before, true);
    }
    // A reader keeps the write-ahead log and the shared memory file there, as the station does.
    Database reader(folder.databasePath());
    ASSERT_TRUE(reader.exec("BEGIN; SELECT count(*) FROM Historydata;"));
    ASSERT_TRUE(fs::exists(folder.databasePath() + "-shm"));
    const test::GuardedTargets whileOpen(folder.path());
    refuseEach(whileOpen);
}

INSTANTIATE_TEST_SUITE_P(EveryCommandThatWrites, OutputGuard, testing::ValuesIn(kDoors),
                         [](const auto& door) { return std::string(door.param.name); });

} // namespace
} // namespace mirv
