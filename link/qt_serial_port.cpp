#include "qt_serial_port.h"

#include "line_settings.h"

#include <unistd.h>

namespace mirv {

namespace {

QSerialPort::Parity toParity(char p) {
    switch (p) {
    case 'e':
        return QSerialPort::EvenParity;
    case 'o':
        return QSerialPort::OddParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toStopBits(int s) {
    if (s == 2)
        return QSerialPort::TwoStop;
    if (s == 3)
        return QSerialPort::OneAndHalfStop;
    return QSerialPort::OneStop;
}

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        if (bytesArrived)
            bytesArrived();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

Failure QtSerialPort::open(const std::string& device) {
    if (port_.isOpen())
        port_.close();
    lost_ = false;
    device_ = device;
    port_.setPortName(QString::fromStdString(device));
    if (!port_.open(QIODevice::ReadWrite)) {
        ++openFailures;
        return port_.errorString().toStdString();
    }
    ++opens;
    port_.setFlowControl(QSerialPort::NoFlowControl);
    return std::nullopt;
}

Failure QtSerialPort::setSettings(const std::string& settings) {
    settings_ = parseLineSettings(settings);
    if (!settings_)
        return "Invalid line settings: " + settings;
    return applySettings();
}

Failure QtSerialPort::applySettings() {
    const auto& s = settings_;
    if (!s)
        return std::nullopt;
    if (!port_.isOpen())
        return port_.errorString().toStdString();
    const bool ok = port_.setBaudRate(s->baud) && port_.setParity(toParity(s->parity)) &&
                    port_.setDataBits(static_cast<QSerialPort::DataBits>(s->dataBits)) &&
                    port_.setStopBits(toStopBits(s->stopBits));
    if (!ok)
        return port_.errorString().toStdString();
    return std::nullopt;
}

void QtSerialPort::flushOutput() {
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

void QtSerialPort::flushInput() {
    if (port_.isOpen())
        port_.clear(QSerialPort::Input);
}

void QtSerialPort::flushBoth() {
    if (port_.isOpen())
        port_.clear(QSerialPort::AllDirections);
}

bool QtSerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!port_.isOpen())
        return false;
    // A request is a few bytes and the output was just flushed: the driver takes it at once.
    // Writing it straight to the device saves QSerialPort's round trip through the event loop.
    const ssize_t n = ::write(static_cast<int>(port_.handle()), bytes.data(), bytes.size());
    if (n == static_cast<ssize_t>(bytes.size()))
        return true;
    const std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
    const auto rest = static_cast<qint64>(bytes.size() - done);
    return port_.write(reinterpret_cast<const char*>(bytes.data() + done), rest) == rest;
}

std::vector<std::uint8_t> QtSerialPort::readAll() {
    if (!port_.isOpen())
        return {};
    const QByteArray data = port_.readAll();
    return {data.begin(), data.end()};
}

void QtSerialPort::recover() {
    if (!lost_)
        return;
    if (open(device_) || applySettings()) {
        port_.close();
        lost_ = true;
    }
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (port_.isOpen())
        port_.close();
    lost_ = true;
}

} // namespace mirv
