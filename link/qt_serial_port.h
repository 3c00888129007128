#pragma once

#include "line_settings.h"
#include "serial_port.h"

#include <QObject>
#include <QSerialPort>

namespace mirv {

// SerialPort over QSerialPort. When the device fails while running (a USB adapter pulled out)
// the port is closed at the first error, so Qt's error flood stops, and recover() tries to
// reopen the same device with the same settings at most once per poll tick.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
  public:
    explicit QtSerialPort(QObject* parent = nullptr);

    Failure open(const std::string& device) override;
    Failure setSettings(const std::string& settings) override;
    void flushOutput() override;
    void flushInput() override;
    void flushBoth() override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> readAll() override;
    void recover() override;

    bool isOpen() const { return port_.isOpen(); }
    bool lost() const { return lost_; }

  private:
    void onError(QSerialPort::SerialPortError error);
    Failure applySettings();

    QSerialPort port_;
    std::string device_;
    std::optional<LineSettings> settings_; // reapplied when a lost device comes back
    bool lost_ = false;
};

} // namespace mirv
