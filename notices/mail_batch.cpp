#include "mail_batch.h"

#include <algorithm>
#include <utility>

namespace mirv {

void MailBatch::add(const std::vector<EventRow>& events) {
    events_.insert(events_.end(), events.begin(), events.end());
}

std::int64_t MailBatch::dueMs() const {
    const std::int64_t afterLast = sentBefore_ ? lastSentMs_ + intervalMs_ : 0;
    return std::max(afterLast, retryAtMs_);
}

std::vector<EventRow> MailBatch::take(std::int64_t nowMs) {
    before_ = {sentBefore_, lastSentMs_};
    sentBefore_ = true;
    lastSentMs_ = nowMs;
    return std::exchange(events_, {});
}

void MailBatch::putBack(std::vector<EventRow> events, std::int64_t retryAtMs) {
    events.insert(events.end(), events_.begin(), events_.end());
    events_ = std::move(events);
    // A mail that did not go does not count against the interval.
    sentBefore_ = before_.first;
    lastSentMs_ = before_.second;
    retryAtMs_ = retryAtMs;
}

} // namespace mirv
