#include "alarm_condition.h"
#include "event_watch.h"

#include <gtest/gtest.h>
#include <string>

namespace mirv {
namespace {

// Observations as letters: 'x' the condition present, '.' absent, 'A' the operator
// acknowledges. The changes as letters: 'B' began, 'R' repeated, 'E' returned, '-' none.
std::string play(AlarmCondition& c, const std::string& script) {
    std::string changes;
    for (char step : script) {
        if (step == 'A') {
            c.acknowledge();
            continue;
        }
        switch (c.observe(step == 'x')) {
        case AlarmCondition::Change::Began:
            changes += 'B';
            break;
        case AlarmCondition::Change::Repeated:
            changes += 'R';
            break;
        case AlarmCondition::Change::Returned:
            changes += 'E';
            break;
        default:
            changes += '-';
        }
    }
    return changes;
}

TEST(AlarmCondition, DelaysStatesAndRepeats) {
    const struct {
        const char* name;
        AlarmDelays delays;
        const char* script;
        const char* changes;
        AlarmState end;
        int repeats;
    } cases[] = {
        {"three misses make a silent meter",
         {3, 3},
         "..xxx",
         "----B",
         AlarmState::ActiveUnacknowledged,
         0},
        {"answering every other poll raises nothing",
         {3, 3},
         "x.x.x.x.x.x.",
         "------------",
         AlarmState::Normal,
         0},
        {"silent, then every other poll: still the one alarm",
         {3, 3},
         "xxx.x.x.x.x",
         "--B--------",
         AlarmState::ActiveUnacknowledged,
         0},
        {"back after three answers, unacknowledged",
         {3, 3},
         "xxx...",
         "--B--E",
         AlarmState::ReturnedUnacknowledged,
         0},
        {"coming back before anyone looked is a repeat",
         {3, 3},
         "xxx...xxx...xxx",
         "--B--E--R--E--R",
         AlarmState::ActiveUnacknowledged,
         2},
        {"acknowledged while active, normal when it returns",
         {3, 3},
         "xxxA...",
         "--B--E",
         AlarmState::Normal,
         0},
        {"acknowledged after it returned: normal, and a new alarm next time",
         {3, 3},
         "xxx...Axxx",
         "--B--E--B",
         AlarmState::ActiveUnacknowledged,
         0},
        {"a flag begins at once and ends after three",
         {1, 3},
         "x..x...",
         "B-----E",
         AlarmState::ReturnedUnacknowledged,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmCondition condition(c.delays);
        EXPECT_EQ(play(condition, c.script), c.changes);
        EXPECT_EQ(condition.state(), c.end);
        EXPECT_EQ(condition.repeats(), c.repeats);
    }
}

} // namespace
} // namespace mirv

namespace mirv {
namespace {

// The journal's watch over polls as the engine feeds it: 'a' answered, 'm' missed. A meter is
// silent only after three misses in a row, however its answers fall between.
TEST(EventWatch, OnlyMissesInARowMakeASilentMeter) {
    const struct {
        const char* polls;
        const char* journal; // phases of meter 1's silent events, in order
    } cases[] = {
        {"mamamamam", ""},        {"mmammamm", ""},      {"mmm", "begin"},
        {"ammmaaa", "begin end"}, {"mmmamama", "begin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.polls);
        EventWatch watch;
        watch.now = [] { return EventWatch::Stamp{"2026-01-01 00:00:00", "2026-01-01T00:00:00Z"}; };
        std::string journal;
        watch.write = [&](std::vector<EventRow> events, std::vector<AlarmRow>) {
            for (const EventRow& e : events)
                journal += (journal.empty() ? "" : " ") + e.phase;
        };
        const BoardRow answer{"1.0", "", "", "", "", "", "", "通讯正常"};
        for (const char* p = c.polls; *p; ++p)
            watch.polled(1, *p == 'a', *p == 'a' ? answer : BoardRow{});
        EXPECT_EQ(journal, c.journal);
    }
}

} // namespace
} // namespace mirv
