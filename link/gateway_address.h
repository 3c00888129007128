#pragma once

#include "serial_port.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirv {

// An RS-485 gateway on the network: RTU frames passed through unchanged ("tcp://"), or
// translated to Modbus TCP ("modbus-tcp://").
struct GatewayAddress {
    enum Framing { RtuOverTcp, ModbusTcp } framing = RtuOverTcp;
    std::string host;
    std::uint16_t port = 0;

    bool operator==(const GatewayAddress&) const = default;
};

// "tcp://HOST:PORT" or "modbus-tcp://HOST:PORT" (HOST a name, an IPv4 address or an IPv6
// address in brackets; PORT 1..65535), spaces around allowed; nothing for anything else.
std::optional<GatewayAddress> parseGatewayLine(std::string_view line);

// What a port file names. A regular file (also through a link) names a gateway on its first
// line; anything else (a device, a link to one, nothing at all) is opened as a serial device.
struct PortFile {
    std::optional<GatewayAddress> gateway;
    Failure failure; // a regular file whose first line names no gateway
};

PortFile readPortFile(const std::string& path);

} // namespace mirv
