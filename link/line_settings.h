#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirv {

struct LineSettings {
    int baud = 9600;
    char parity = 'n'; // n, e, o, m or s
    int dataBits = 8;
    int stopBits = 1; // 1 or 2; "1.5" is kept as 3
};

// Parses "9600,n,8,1"; nothing for a text that is not of that form.
std::optional<LineSettings> parseLineSettings(std::string_view text);

// The line settings for a baud text: one of the seven rates the meters support, compared as
// exact text, or "9600,n,8,1" for anything else.
std::string lineSettingsForBaud(std::string_view baudText);

} // namespace mirv
