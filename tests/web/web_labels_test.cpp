#include "event_journal.h"
#include "program_folder.h"
#include "web_api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mirv {
namespace {

// The journal page shows a named meter by its label, the station's own rows by no meter.
TEST(WebJournal, EachEventCarriesItsMetersLabel) {
    test::ProgramFolder folder;
    folder.exec(kEventTablesSql);
    folder.exec("INSERT INTO Meters (Row, Address, Profile, Name) VALUES (2, 101, 'default', "
                "'锅炉房');"
                "INSERT INTO Events (CreateTime, UtcTime, MeterID, Kind, Phase, Text, Detail, "
                "User) VALUES ('2026-05-06 08:00:00', '2026-05-06T00:00:00Z', 2, 'silent', "
                "'begin', 'a', '', ''), ('2026-05-06 08:01:00', '2026-05-06T00:01:00Z', 1, "
                "'silent', 'begin', 'b', '', '')");
    const ApiAnswer answer = journalAnswer(folder.databasePath(), {"2026-05-06", "2026-05-07", ""});
    ASSERT_EQ(answer.status, 200) << answer.body;
    const auto events = nlohmann::json::parse(answer.body)["events"];
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["meter"], 2);
    EXPECT_EQ(events[0]["label"], "2 锅炉房");
    EXPECT_EQ(events[1]["label"], "1");
}

} // namespace
} // namespace mirv
