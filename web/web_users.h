#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// The users who may log in to the web pages: the file web.passwd in the program folder, a line
// `NAME HASH` per user. The hash is libsodium's salted, deliberately slow password hash
// (Argon2id with its parameters and salt in the text); the password itself is never stored.
inline constexpr const char* kWebUsersFile = "web.passwd";

// A user name: 1 to 32 letters, digits, '.', '_' or '-'.
bool isWebUserName(std::string_view name);

// Adds the user to the file at `path`, or gives a user already there the new password. The
// file is written whole under another name and put in place. The failure's description if not.
std::optional<std::string> addWebUser(const std::string& path, const std::string& name,
                                      const std::string& password);

// Whether the file at `path` holds the user with that password. It is read anew each time, so
// a user added while the service runs can log in at once.
bool checkWebUser(const std::string& path, const std::string& name, const std::string& password);

} // namespace mirv
