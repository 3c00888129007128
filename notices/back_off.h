#pragma once

#include <algorithm>
#include <cstdint>

namespace mirv {

// How long a notifier that failed waits before it tries again: `first`, then twice as long after
// each failure in a row, never more than `longest`; a success starts over.
class BackOff {
  public:
    BackOff(std::int64_t firstMs, std::int64_t longestMs) : first_(firstMs), longest_(longestMs) {}
    std::int64_t failed() {
        const std::int64_t wait = next_ ? next_ : first_;
        next_ = std::min(wait * 2, longest_);
        return std::min(wait, longest_);
    }
    void succeeded() { next_ = 0; }
    bool failing() const { return next_ != 0; }

  private:
    std::int64_t first_;
    std::int64_t longest_;
    std::int64_t next_ = 0;
};

} // namespace mirv
