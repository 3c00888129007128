#include "local_meters.h"

#include "copy_text.h"
#include "leading_number.h"
#include "meter_plan_reader.h"
#include "readings_board.h"
#include "settings_row.h"

#include <algorithm>
#include <cmath>

namespace mirv {

std::optional<std::vector<PlannedMeter>> readStationMeters(const std::string& databasePath) {
    const SettingsRow settings = readSettingsRow(databasePath, true);
    if (!settings.error.empty() || !settings.num.text)
        return std::nullopt;
    // As the station counts its polled rows.
    const double count = leadingNumber(*settings.num.text);
    const int rows = count >= kMeters ? kMeters : std::max(1, static_cast<int>(std::ceil(count)));
    MeterPlan plan = readMeterPlan(databasePath, rows);
    // A table that could not be read is told as the plan's one refusal, about the table as a
    // whole: today's plan then is no news about the meters.
    const std::string unreadable = databasePath + ": Meters: ";
    for (const std::string& refusal : plan.refusals)
        if (refusal.rfind(unreadable, 0) == 0)
            return std::nullopt;
    std::vector<PlannedMeter> meters;
    for (PlannedMeter& m : plan.meters) {
        m.profile = serverText(m.profile, MeterTextBounds::profile);
        m.name = serverText(m.name, MeterTextBounds::name);
        if (!m.profile.empty()) // a profile of NUL bytes only: the station does not poll it
            meters.push_back(std::move(m));
    }
    return meters;
}

} // namespace mirv
