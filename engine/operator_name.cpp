#include "operator_name.h"

#include <pwd.h>
#include <unistd.h>

namespace mirv {

std::string operatorName() {
    const uid_t uid = ::geteuid();
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

} // namespace mirv
