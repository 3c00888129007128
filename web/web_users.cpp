#include "web_users.h"

#include "shared_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sodium.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace mirv {

namespace {

struct UserLine {
    std::string name;
    std::string hash;
};

std::vector<UserLine> readUsers(const std::string& path) {
    std::vector<UserLine> users;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        UserLine user;
        if (fields >> user.name >> user.hash && isWebUserName(user.name))
            users.push_back(std::move(user));
    }
    return users;
}

std::optional<std::string> writeWhole(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    const int fd = openSharedFile(temporary, O_WRONLY | O_TRUNC);
    if (fd < 0)
        return "cannot write " + temporary + ": " + std::strerror(errno);
    // The hashes are for the station's users and group only.
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        ::fchmod(fd, st.st_mode & 0770);
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int why = written ? errno : error;
        ::unlink(temporary.c_str());
        return "cannot write " + path + ": " + std::strerror(why);
    }
    return std::nullopt;
}

} // namespace

bool isWebUserName(std::string_view name) {
    if (name.empty() || name.size() > 32)
        return false;
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'))
            return false;
    return true;
}

std::optional<std::string> addWebUser(const std::string& path, const std::string& name,
                                      const std::string& password) {
    if (!isWebUserName(name))
        return "'" + name + "' is no user name: 1 to 32 letters, digits, '.', '_' or '-'";
    if (password.empty())
        return "the password is empty";
    if (sodium_init() < 0)
        return "libsodium cannot start";
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return "not enough memory to hash the password";
    std::vector<UserLine> users = readUsers(path);
    bool replaced = false;
    for (UserLine& user : users)
        if (user.name == name) {
            user.hash = hash;
            replaced = true;
        }
    if (!replaced)
        users.push_back({name, hash});
    std::string text;
    for (const UserLine& user : users)
        text += user.name + " " + user.hash + "\n";
    return writeWhole(path, text);
}

bool checkWebUser(const std::string& path, const std::string& name, const std::string& password) {
    if (sodium_init() < 0 || !isWebUserName(name))
        return false;
    for (const UserLine& user : readUsers(path))
        if (user.name == name)
            return crypto_pwhash_str_verify(user.hash.c_str(), password.data(), password.size()) ==
                   0;
    // An unknown name takes as long as a wrong password, so that the answer's time does not
    // tell which names exist.
    static const std::string dummy = [] {
        char hash[crypto_pwhash_STRBYTES] = {};
        [[maybe_unused]] const int made = crypto_pwhash_str(
            hash, "-", 1, crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE);
        return std::string(hash);
    }();
    [[maybe_unused]] const int same =
        crypto_pwhash_str_verify(dummy.c_str(), password.data(), password.size());
    return false;
}

} // namespace mirv
