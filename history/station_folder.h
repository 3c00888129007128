#pragma once

#include <filesystem>

namespace mirv {

// The folder the programs work in (the database, its pending rows, the report template,
// ports/, uplink.conf): the folder they run from, or, when they are installed apart from the
// plant's files, the folder named by the first line of the file `station-folder` beside them.
std::filesystem::path stationFolder();

} // namespace mirv
