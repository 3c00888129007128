#include "station_port.h"

namespace mirv {

StationPort::StationPort() {
    auto forward = [this] {
        if (bytesArrived)
            bytesArrived();
    };
    serial_.bytesArrived = forward;
    gateway_.bytesArrived = forward;
    gateway_.connectionChanged = [this](bool up) {
        if (gatewayConnectionChanged)
            gatewayConnectionChanged(up);
    };
}

Failure StationPort::open(const std::string& device) {
    const PortFile file = readPortFile(device);
    if (file.failure)
        return file.failure;
    if (file.gateway) {
        active_ = &gateway_;
        gateway_.open(*file.gateway);
        return std::nullopt;
    }
    gateway_.close();
    active_ = &serial_;
    return serial_.open(device);
}

bool StationPort::isOpen() const {
    return active_ == &gateway_ ? gateway_.isOpen() : serial_.isOpen();
}

void StationPort::closeGateway() {
    gateway_.close();
}

Failure StationPort::setSettings(const std::string& settings) {
    return active_->setSettings(settings);
}
void StationPort::flushOutput() {
    active_->flushOutput();
}
void StationPort::flushInput() {
    active_->flushInput();
}
void StationPort::flushBoth() {
    active_->flushBoth();
}
bool StationPort::write(std::span<const std::uint8_t> bytes) {
    return active_->write(bytes);
}
std::vector<std::uint8_t> StationPort::readAll() {
    return active_->readAll();
}
void StationPort::recover() {
    active_->recover();
}
void StationPort::farEndSilent() {
    active_->farEndSilent();
}

} // namespace mirv
