#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mirv {

// Modbus TCP framing: a 7-byte header (transaction ID, protocol 0, length of what follows,
// unit ID) before the PDU, and no CRC. The station speaks RTU frames; these convert.

// An RTU frame (address, PDU, CRC) as a Modbus TCP request with `transaction`, the address as
// unit ID. Nothing for a frame too short to hold an address, a function and a CRC.
std::vector<std::uint8_t> modbusTcpRequest(std::uint16_t transaction,
                                           std::span<const std::uint8_t> rtuFrame);

// Cuts the byte stream of a Modbus TCP connection into answers and hands on, in RTU form
// (unit ID, PDU, CRC), those of the transaction awaited whose length is right.
class ModbusTcpAnswers {
  public:
    // The answer wanted next: its transaction, its function and its length in RTU form, 0 for
    // any (an exception answer is always 5).
    void expect(std::uint16_t transaction, std::uint8_t function, std::size_t rtuLength);
    // Feeds received bytes; the accepted answers in RTU form are appended to `out`. False when
    // the stream holds a header that cannot be Modbus TCP: it cannot be followed further.
    bool feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);
    void reset();
    // Frames not handed on since the start: of another transaction or function, of the wrong
    // length, too short for an answer, or a stream given up as not Modbus TCP.
    std::uint64_t dropped() const { return dropped_; }

    // An exception answer in RTU form: address, function, code and CRC.
    static constexpr std::size_t kExceptionRtuLength = 5;

  private:
    bool isAnswerAwaited(std::uint16_t transaction, std::span<const std::uint8_t> unitAndPdu) const;

    std::vector<std::uint8_t> pending_;
    std::uint16_t transaction_ = 0;
    std::uint8_t function_ = 0;
    std::size_t rtuLength_ = 0;
    bool awaiting_ = false;
    std::uint64_t dropped_ = 0;
};

} // namespace mirv
