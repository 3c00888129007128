#include "mail_batch.h"

#include <gtest/gtest.h>

namespace mirv {
namespace {

EventRow event(const char* text) {
    EventRow e;
    e.text = text;
    return e;
}

std::vector<std::string> texts(const std::vector<EventRow>& events) {
    std::vector<std::string> t;
    for (const auto& e : events)
        t.push_back(e.text);
    return t;
}

constexpr std::int64_t kFiveMinutes = 300000;

TEST(MailBatch, FirstEventGoesAtOnceLaterOnesTogetherFiveMinutesAfter) {
    MailBatch batch(kFiveMinutes);
    batch.add({event("a")});
    EXPECT_EQ(batch.dueMs(), 0);
    EXPECT_EQ(texts(batch.take(1000)), std::vector<std::string>{"a"});
    batch.add({event("b")});
    batch.add({event("c")});
    EXPECT_EQ(batch.dueMs(), 1000 + kFiveMinutes);
    EXPECT_EQ(texts(batch.take(1000 + kFiveMinutes)), (std::vector<std::string>{"b", "c"}));
    EXPECT_FALSE(batch.waiting());
}

TEST(MailBatch, FailedMailWaitsForItsRetryNotTheIntervalAndKeepsItsEventsFirst) {
    MailBatch batch(kFiveMinutes);
    batch.add({event("a")});
    auto failed = batch.take(1000);
    batch.add({event("b")});
    batch.putBack(std::move(failed), 31000);
    EXPECT_EQ(batch.dueMs(), 31000);
    EXPECT_EQ(texts(batch.take(31000)), (std::vector<std::string>{"a", "b"}));
    batch.add({event("c")});
    EXPECT_EQ(batch.dueMs(), 31000 + kFiveMinutes);
}

} // namespace
} // namespace mirv
