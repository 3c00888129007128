#include "polled_meters.h"

#include "meter_profile_file.h"

#include <map>

namespace mirv {

std::vector<PolledMeter> polledMeters(const MeterPlan& plan,
                                      const std::filesystem::path& profilesFolder,
                                      std::vector<std::string>& refusals) {
    std::map<std::string, ProfileResult> read;
    std::map<std::string, std::shared_ptr<const MeterProfile>> shared;
    std::vector<PolledMeter> polled;
    for (const PlannedMeter& m : plan.meters) {
        if (!m.polled)
            continue;
        auto it = read.find(m.profile);
        if (it == read.end())
            it = read.emplace(m.profile, findMeterProfile(profilesFolder, m.profile)).first;
        if (!it->second.profile) {
            refusals.push_back("Meters row " + std::to_string(m.row) + ": " + it->second.error);
            continue;
        }
        auto& profile = shared[m.profile];
        if (!profile)
            profile = std::make_shared<const MeterProfile>(*it->second.profile);
        polled.push_back({m.row, static_cast<std::uint8_t>(m.address), profile});
    }
    return polled;
}

} // namespace mirv
