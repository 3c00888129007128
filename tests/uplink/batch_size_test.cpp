// The rows of each batch follow how long the batches before took.
#include "batch_size.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

using std::chrono::milliseconds;

struct Step {
    int rows;       // rows of the batch stored
    long long took; // milliseconds, or -1 when it was given up
    int next;       // rows the next batch reads
};

struct Case {
    const char* name;
    int ceiling;
    std::vector<Step> steps;
};

TEST(BatchSize, FollowsHowLongTheBatchesBeforeTook) {
    const Case cases[] = {
        {"quick batches grow to the ceiling",
         20000,
         {{2000, 100, 4000},
          {4000, 200, 8000},
          {8000, 400, 16000},
          {16000, 800, 20000},
          {20000, 999, 20000}}},
        {"a slow one is followed by half, not below the floor",
         20000,
         {{2000, 100, 4000},
          {4000, 300, 8000},
          {8000, 2001, 4000},
          {4000, 1000, 4000},
          {4000, 9000, 2000},
          {2000, 60000, 2000}}},
        {"a short last batch changes nothing",
         20000,
         {{2000, 100, 4000}, {37, 10, 4000}, {37, 9000, 4000}}},
        {"given up: the floor", 20000, {{2000, 100, 4000}, {4000, 100, 8000}, {8000, -1, 2000}}},
        {"a ceiling below the floor", 300, {{300, 100, 300}, {300, 3000, 300}, {300, -1, 300}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BatchSize size(c.ceiling);
        EXPECT_EQ(size.rows(), c.steps.front().rows);
        for (const auto& s : c.steps) {
            if (s.took < 0)
                size.gaveUp();
            else
                size.took(s.rows, milliseconds(s.took));
            EXPECT_EQ(size.rows(), s.next) << s.rows << " rows in " << s.took << " ms";
        }
    }
}

} // namespace
} // namespace mirv
