// The users file: a salted slow hash per user, never the password.
#include "temp_dir.h"
#include "web_users.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace mirv {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(WebUsers, StoresAHashThatChecksThePassword) {
    test::TempDir dir;
    const std::string path = dir.str() + "/web.passwd";
    ASSERT_EQ(addWebUser(path, "anna", "Geheim-123"), std::nullopt);
    ASSERT_EQ(addWebUser(path, "ben.k", "zweites"), std::nullopt);
    const std::string text = fileText(path);
    EXPECT_EQ(text.find("Geheim-123"), std::string::npos);
    EXPECT_NE(text.find("anna $argon2id$"), std::string::npos) << text;

    EXPECT_TRUE(checkWebUser(path, "anna", "Geheim-123"));
    EXPECT_TRUE(checkWebUser(path, "ben.k", "zweites"));
    EXPECT_FALSE(checkWebUser(path, "anna", "geheim-123"));
    EXPECT_FALSE(checkWebUser(path, "anna", ""));
    EXPECT_FALSE(checkWebUser(path, "carl", "Geheim-123"));
    EXPECT_FALSE(checkWebUser(path, "ben.k", "Geheim-123"));

    // A new password replaces the old one; the same password hashes differently (salted).
    const std::string before = fileText(path);
    ASSERT_EQ(addWebUser(path, "anna", "Geheim-123"), std::nullopt);
    EXPECT_NE(fileText(path), before);
    ASSERT_EQ(addWebUser(path, "anna", "neu"), std::nullopt);
    EXPECT_FALSE(checkWebUser(path, "anna", "Geheim-123"));
    EXPECT_TRUE(checkWebUser(path, "anna", "neu"));
    EXPECT_TRUE(checkWebUser(path, "ben.k", "zweites"));
}

TEST(WebUsers, RefusesNamesThatCouldBreakTheFile) {
    test::TempDir dir;
    const std::string path = dir.str() + "/web.passwd";
    for (const char* name : {"", "a b", "a\nb", "x:y", "123456789012345678901234567890123"})
        EXPECT_NE(addWebUser(path, name, "pw"), std::nullopt) << name;
    EXPECT_NE(addWebUser(path, "anna", ""), std::nullopt) << "an empty password";
    EXPECT_FALSE(checkWebUser(path, "anna", ""));
}

} // namespace
} // namespace mirv
