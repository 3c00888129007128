#pragma once

#include <string>

namespace mirv {

// Opens the file at `path` with open(2)'s `flags` (O_CLOEXEC added), making it when it is
// missing. Every file the programs make in their folder is made here: in a group-writable
// folder (several operators sharing one station) the file is made readable and writable for
// the folder's group whatever the umask, so that the next operator's program can go on with
// it. A file of ours made earlier without that is given it too. -1 and errno on failure.
int openSharedFile(const std::string& path, int flags);

} // namespace mirv
