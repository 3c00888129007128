#include "output_file.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace mirv {
namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file written again keeps the permissions it had, and until the new bytes are complete
// it keeps its old ones; nothing else is left in its folder.
TEST(OutputFile, ReplacesAFileWholeAndKeepsItsPermissions) {
    test::TempDir dir;
    const std::string path = dir.str() + "/report.csv";
    std::ofstream(path) << "old\n";
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    {
        OutputFile file(path, {});
        ASSERT_TRUE(file.ok()) << file.error();
        ASSERT_EQ(file.write("new\n"), std::nullopt);
        EXPECT_EQ(bytesOf(path), "old\n");
        ASSERT_EQ(file.commit(), std::nullopt);
    }
    EXPECT_EQ(bytesOf(path), "new\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

} // namespace
} // namespace mirv
