#pragma once

#include <chrono>

namespace mirv {

// How many rows the next batch reads: between kFloor and the ceiling (--batch-rows), fewer
// while batches take long. A busy server (many stations forwarding at once, a pooler's queue
// in front of it) then gets transactions of kFloor rows, each call far below the call limit,
// instead of large ones that wait out the limit; an idle one gets the ceiling after a few
// batches. Below kFloor, the cost of each transaction would outweigh its rows.
class BatchSize {
  public:
    // What one batch may take.
    static constexpr std::chrono::milliseconds kTarget{2000};
    static constexpr int kFloor = 2000;

    explicit BatchSize(int ceiling) : ceiling_(ceiling), rows_(floor()) {}

    int rows() const { return rows_; }
    // A whole batch of `rows` was stored in `time`: one that took longer than the target is
    // followed by half as many rows, one that took less than half of it by twice as many.
    void took(int rows, std::chrono::milliseconds time);
    // A batch was given up (the server did not answer in time): the next is of the floor.
    void gaveUp() { rows_ = floor(); }

  private:
    int floor() const { return ceiling_ < kFloor ? ceiling_ : kFloor; }

    int ceiling_;
    int rows_;
};

} // namespace mirv
