#pragma once

#include "serial_port.h"

#include <deque>
#include <vector>

namespace mirv::test {

// A serial port in memory: records what the link writes and feeds it what a test "receives".
class FakeSerialPort : public SerialPort {
  public:
    Failure open(const std::string& device) override {
        opened = device;
        return openFailure;
    }
    Failure setSettings(const std::string& s) override {
        settings.push_back(s);
        return settingsFailure;
    }
    void flushOutput() override { calls.push_back("flushOutput"); }
    void flushInput() override {
        calls.push_back("flushInput");
        inbox.clear();
    }
    bool write(std::span<const std::uint8_t> bytes) override {
        calls.push_back("write");
        written.emplace_back(bytes.begin(), bytes.end());
        return writeSucceeds;
    }
    std::vector<std::uint8_t> readAll() override {
        std::vector<std::uint8_t> out(inbox.begin(), inbox.end());
        inbox.clear();
        return out;
    }

    // Delivers bytes and raises the receive event, as the line would.
    template <typename Bytes> void receive(const Bytes& bytes) {
        inbox.insert(inbox.end(), std::begin(bytes), std::end(bytes));
        if (bytesArrived)
            bytesArrived();
    }

    std::string opened;
    Failure openFailure;
    Failure settingsFailure;
    std::vector<std::string> settings;
    std::vector<std::string> calls;
    std::vector<std::vector<std::uint8_t>> written;
    std::deque<std::uint8_t> inbox;
    bool writeSucceeds = true;
};

} // namespace mirv::test
