#pragma once

#include <functional>
#include <grp.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace mirv::test {

// A user a forked child becomes when the tests run as root: an operator of the station's
// group, say, next to another one.
struct ForkedUser {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

// Unused ids for the children's users, so that no real user's files are at stake.
constexpr uid_t kFirstOperator = 64201, kSecondOperator = 64202;
constexpr gid_t kOperatorsGroup = 64200;

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// Runs `work` in a forked child with umask `mask`, as `user` when the tests run as root (else
// as the tests' own user), and returns its exit status: what `work` returned, or 128 and the
// signal that ended it.
inline int runInChild(mode_t mask, const std::optional<ForkedUser>& user,
                      const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::umask(mask);
        if (user && runningAsRoot()) {
            if (::setgroups(user->groups.size(), user->groups.data()) != 0 ||
                ::setresgid(user->gid, user->gid, user->gid) != 0 ||
                ::setresuid(user->uid, user->uid, user->uid) != 0)
                ::_exit(125);
        }
        ::_exit(work());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace mirv::test
