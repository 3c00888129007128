#pragma once

#include <functional>
#include <string>

namespace mirv {

// The minute counter behind the record tick. Once a minute it counts, and when the
// count reaches a positive record interval it records every meter and starts again. Reaching
// (not only equalling) lets an interval lowered below the count take effect at once.
class RecordTick {
  public:
    // `recordInterval` is the record interval field's text; its leading number counts.
    void minutePassed(const std::string& recordInterval);

    int count() const { return minutes_; }

    // Records every meter that answered its last poll.
    std::function<void()> recordAll;

  private:
    int minutes_ = 0;
};

} // namespace mirv
