#include "line_settings.h"

#include <array>
#include <charconv>
#include <vector>

namespace mirv {

namespace {

std::vector<std::string_view> splitFields(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return out;
        start = comma + 1;
    }
}

std::optional<int> toInt(std::string_view s) {
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty())
        return std::nullopt;
    return v;
}

} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text) {
    const auto f = splitFields(text);
    if (f.size() != 4 || f[1].size() != 1)
        return std::nullopt;
    LineSettings s;
    const auto baud = toInt(f[0]);
    const auto data = toInt(f[2]);
    const char parity = static_cast<char>(f[1][0] | 0x20);
    if (!baud || *baud <= 0 || !data || *data < 5 || *data > 8 ||
        std::string_view("neoms").find(parity) == std::string_view::npos)
        return std::nullopt;
    s.baud = *baud;
    s.parity = parity;
    s.dataBits = *data;
    if (f[3] == "1")
        s.stopBits = 1;
    else if (f[3] == "2")
        s.stopBits = 2;
    else if (f[3] == "1.5")
        s.stopBits = 3;
    else
        return std::nullopt;
    return s;
}

std::string lineSettingsForBaud(std::string_view baudText) {
    static constexpr std::array<std::string_view, 7> rates{"600",  "1200",  "2400", "4800",
                                                           "9600", "14400", "19200"};
    for (auto rate : rates)
        if (baudText == rate)
            return std::string(rate) + ",n,8,1";
    return "9600,n,8,1";
}

} // namespace mirv
