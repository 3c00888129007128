#pragma once

#include <string>

namespace mirv {

// The operating system's name of the user this process runs as, for the journal's record of
// who saved, purged or acknowledged.
std::string operatorName();

} // namespace mirv
