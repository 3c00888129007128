#pragma once

#include "meter_profile.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// A profile, or why it was refused: "<file>:<line>: <field>: <problem>".
struct ProfileResult {
    std::optional<MeterProfile> profile;
    std::string error;
};

// The one reader of profile files (JSON; the README describes the fields). `file` names the
// text in a refusal, `name` becomes the profile's name.
ProfileResult parseMeterProfile(std::string_view text, const std::string& file,
                                const std::string& name);

// The profile file at `path`, named by its file name without the extension.
ProfileResult readMeterProfile(const std::filesystem::path& path);

// The profile `nameOrFile` names: a file when it holds a '/' or ends in ".json", otherwise
// NAME.json in `folder`.
ProfileResult findMeterProfile(const std::filesystem::path& folder, const std::string& nameOrFile);

} // namespace mirv
