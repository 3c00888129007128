#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mirv {

// What no output may be written over: each database in `databases` with the files SQLite and
// the station keep beside it (-wal, -shm, -journal, the pending rows, the journal's spool), the
// station's own files in each database's folder (its identity, configuration and lock), and those
// files and the ones it ships in the program folder `programDir` (none when it is empty).
struct ProtectedFiles {
    std::vector<std::string> databases;
    std::string programDir;
};

// Why writing `target` is refused, in one line, or nothing when it may be written. Files are
// compared by device and inode, so a symbolic or a hard link to one of them is refused too;
// a name that would become one of them (a -wal beside the database that is not there yet) is
// refused by its folder and name, also at the end of a chain of symbolic links, each relative
// link read from the folder it is in.
std::optional<std::string> refusedOutput(const std::string& target, const ProtectedFiles& files);
// The same for an open descriptor, e.g. standard output redirected into a file.
std::optional<std::string> refusedOutput(int fd, const std::string& name,
                                         const ProtectedFiles& files);

// The files the program folder ships, by name.
const std::vector<std::string>& shippedFileNames();
// The files the station keeps in its folder beside the database, by name.
const std::vector<std::string>& stationFileNames();

} // namespace mirv
