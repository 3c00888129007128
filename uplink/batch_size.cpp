#include "batch_size.h"

#include <algorithm>

namespace mirv {

void BatchSize::took(int rows, std::chrono::milliseconds time) {
    if (rows < rows_)
        return; // the last rows there were: says nothing of how many fit
    if (time > kTarget)
        rows_ = std::max(floor(), rows_ / 2);
    else if (time < kTarget / 2)
        rows_ = rows_ > ceiling_ / 2 ? ceiling_ : rows_ * 2;
}

} // namespace mirv
