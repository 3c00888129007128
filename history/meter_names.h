#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace mirv {

// The operator's names of the meters, by the address they answer at (Historydata's MeterID).
// Everything that shows a meter beside its name asks here, so that they all show it alike.
class MeterNames {
  public:
    MeterNames() = default;
    // Blank names are left out; a line break or tab in a name reads as a space.
    explicit MeterNames(const std::map<int, std::string>& byAddress);

    // The name of the meter whose MeterID is `meterId`; empty when it has none.
    const std::string& nameOf(std::string_view meterId) const;
    // How a meter shows where there is room: "17 锅炉房", or "17" when it has no name. A
    // MeterID that is no meter's address shows as it is.
    std::string label(std::string_view meterId) const;
    std::string label(int address) const;
    // The MeterID a meter field's text stands for: a named meter's label gives its address;
    // any other text is kept as it is.
    std::string meterOf(std::string_view text) const;
    // The named meters' addresses, and their labels, in address order.
    std::vector<int> addresses() const;
    std::vector<std::string> labels() const;

    bool empty() const { return byId_.empty(); }

  private:
    std::map<int, std::string> byAddress_;
    std::map<std::string, std::string, std::less<>> byId_;
};

} // namespace mirv
