#include "meter_names.h"

namespace mirv {

namespace {

std::string cleanName(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

const std::string kNoName;

} // namespace

MeterNames::MeterNames(const std::map<int, std::string>& byAddress) {
    for (const auto& [address, name] : byAddress) {
        std::string clean = cleanName(name);
        if (clean.empty())
            continue;
        byId_.emplace(std::to_string(address), clean);
        byAddress_.emplace(address, std::move(clean));
    }
}

const std::string& MeterNames::nameOf(std::string_view meterId) const {
    const auto it = byId_.find(meterId);
    return it == byId_.end() ? kNoName : it->second;
}

std::string MeterNames::label(std::string_view meterId) const {
    const std::string& name = nameOf(meterId);
    std::string text(meterId);
    if (!name.empty())
        text += " " + name;
    return text;
}

std::string MeterNames::label(int address) const {
    return label(std::to_string(address));
}

std::string MeterNames::meterOf(std::string_view text) const {
    const std::string trimmed = cleanName(std::string(text));
    for (const auto& entry : byAddress_)
        if (trimmed == label(entry.first))
            return std::to_string(entry.first);
    return std::string(text);
}

std::vector<int> MeterNames::addresses() const {
    std::vector<int> out;
    for (const auto& entry : byAddress_)
        out.push_back(entry.first);
    return out;
}

std::vector<std::string> MeterNames::labels() const {
    std::vector<std::string> out;
    for (const auto& entry : byAddress_)
        out.push_back(label(entry.first));
    return out;
}

} // namespace mirv
