#pragma once

#include "qt_serial_port.h"
#include "tcp_gateway_port.h"

namespace mirv {

// The station's port: the serial device a port file names, or the gateway its first line
// names. open() chooses; everything else goes to the one chosen.
class StationPort : public SerialPort {
  public:
    StationPort();

    // `device` is a port's path: a device, a link to one, or a file naming a gateway. A file
    // with anything else fails with its path and its first line in the description.
    Failure open(const std::string& device) override;
    Failure setSettings(const std::string& settings) override;
    void flushOutput() override;
    void flushInput() override;
    void flushBoth() override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> readAll() override;
    void recover() override;
    void farEndSilent() override;
    // A station that does not poll leaves the gateway alone.
    void closeGateway();

    bool isOpen() const;
    bool isGateway() const { return active_ == &gateway_; }
    QtSerialPort& serial() { return serial_; }
    TcpGatewayPort& gateway() { return gateway_; }

    // Raised as the gateway is reached or cannot be reached; see TcpGatewayPort.
    std::function<void(bool)> gatewayConnectionChanged;

  private:
    QtSerialPort serial_;
    TcpGatewayPort gateway_;
    SerialPort* active_ = &serial_;
};

} // namespace mirv
