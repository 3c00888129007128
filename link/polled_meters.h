#pragma once

#include "meter_link.h"
#include "meter_plan.h"

#include <filesystem>
#include <string>
#include <vector>

namespace mirv {

// What the link polls for a plan: its polled meters with their profiles read from
// `profilesFolder` (each profile once). A meter whose profile is refused is left out, and the
// refusal ("Meters row N: " and the profile file's refusal) added to `refusals`.
std::vector<PolledMeter> polledMeters(const MeterPlan& plan,
                                      const std::filesystem::path& profilesFolder,
                                      std::vector<std::string>& refusals);

} // namespace mirv
