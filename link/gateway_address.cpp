#include "gateway_address.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace mirv {

namespace {

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool validHost(std::string_view host) {
    if (host.empty())
        return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
              c == ':'))
            return false;
    return true;
}

} // namespace

std::optional<GatewayAddress> parseGatewayLine(std::string_view line) {
    line = trimmed(line);
    GatewayAddress a;
    constexpr std::string_view rtu = "tcp://", modbus = "modbus-tcp://";
    if (line.starts_with(rtu)) {
        a.framing = GatewayAddress::RtuOverTcp;
        line.remove_prefix(rtu.size());
    } else if (line.starts_with(modbus)) {
        a.framing = GatewayAddress::ModbusTcp;
        line.remove_prefix(modbus.size());
    } else {
        return std::nullopt;
    }
    const auto colon = line.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string_view host = line.substr(0, colon);
    const std::string_view port = line.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string_view::npos)
        return std::nullopt; // an IPv6 address needs its brackets
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535 ||
        !validHost(host))
        return std::nullopt;
    a.host = std::string(host);
    a.port = static_cast<std::uint16_t>(value);
    return a;
}

PortFile readPortFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {std::nullopt, path + ": cannot be read"};
    std::string line;
    // A gateway line is short: a long first line is shown cut.
    constexpr std::size_t kLongest = 200;
    char c = 0;
    while (line.size() <= kLongest && in.get(c) && c != '\n')
        line += c;
    if (const auto gateway = parseGatewayLine(line))
        return {gateway, std::nullopt};
    const std::string shown = std::string(trimmed(line.substr(0, kLongest)));
    return {std::nullopt, path + ": the first line \"" + shown +
                              "\" names no gateway (tcp://HOST:PORT or modbus-tcp://HOST:PORT)"};
}

} // namespace mirv
