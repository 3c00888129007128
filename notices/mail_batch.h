#pragma once

#include "event_journal.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace mirv {

// The events waiting for the next mail. At most one mail goes out per `intervalMs`: the first
// event after a quiet interval goes at once, later ones wait for the interval to end and go
// together. A mail that failed puts its events back and the next try waits for `retryAtMs`.
class MailBatch {
  public:
    explicit MailBatch(std::int64_t intervalMs) : intervalMs_(intervalMs) {}

    void add(const std::vector<EventRow>& events);
    bool waiting() const { return !events_.empty(); }
    // When the waiting events may go (milliseconds of the notifier's clock).
    std::int64_t dueMs() const;
    // The waiting events, for a mail sent at `nowMs`.
    std::vector<EventRow> take(std::int64_t nowMs);
    // The events of a mail that failed, back in front of those that came since.
    void putBack(std::vector<EventRow> events, std::int64_t retryAtMs);

  private:
    std::int64_t intervalMs_;
    std::vector<EventRow> events_;
    bool sentBefore_ = false;
    std::int64_t lastSentMs_ = 0;
    std::int64_t retryAtMs_ = 0;
    std::pair<bool, std::int64_t> before_{false, 0};
};

} // namespace mirv
