#pragma once

#include <functional>

namespace mirv {

// How a pass over the history ended.
enum class PassStatus { Done, Cancelled, Failed };

// Called with the part done, 0 to 1, now and then while the records stream past.
using ProgressCallback = std::function<void(double fraction)>;

} // namespace mirv
