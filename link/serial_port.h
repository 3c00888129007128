#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mirv {

// What an operation that can fail returns: nothing, or the failure's description.
using Failure = std::optional<std::string>;

// The narrow face of the serial line the link works through: a real adapter, a
// pseudo-terminal and the tests' fake all sit behind it.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    virtual Failure open(const std::string& device) = 0;
    // Line settings in the form "9600,n,8,1"; applies to the open port.
    virtual Failure setSettings(const std::string& settings) = 0;
    virtual void flushOutput() = 0;
    virtual void flushInput() = 0;
    // Both at once, as before each request; a port that can do it in one call to the driver does.
    virtual void flushBoth() {
        flushOutput();
        flushInput();
    }
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Every byte received and not read yet, in arrival order.
    virtual std::vector<std::uint8_t> readAll() = 0;
    // Called once per poll tick: a port whose device vanished may try to come back here.
    virtual void recover() {}
    // Called when no meter has answered for three whole rounds of polls. A serial line has
    // nothing to do about it; a network connection may be half-open and is made anew.
    virtual void farEndSilent() {}

    // Raised on the event thread whenever received bytes are waiting.
    std::function<void()> bytesArrived;

    // Opens of the device that worked and that failed, also those of a lost device coming
    // back; the implementations count them.
    std::uint64_t opens = 0;
    std::uint64_t openFailures = 0;
};

} // namespace mirv
