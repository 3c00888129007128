#include "run_program.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

// A folder given as the configuration is said to be one, as a bad command line.
TEST(UplinkTool, ConfigThatIsAFolderIsSaidSo) {
    test::TempDir folder;
    const auto run = test::runProgram({MIRV_UPLINK_TOOL, "--config", folder.str(), "--once"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "mirv-uplink: --config: " + folder.str() +
                           " is a directory, not a file (see mirv-uplink --help)\n");
}

} // namespace
} // namespace mirv
