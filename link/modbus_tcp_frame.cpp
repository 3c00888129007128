#include "modbus_tcp_frame.h"

#include "crc16.h"

namespace mirv {

namespace {

constexpr std::size_t kHeader = 7; // transaction, protocol, length, unit ID
// The length field counts the unit ID and the PDU. The longest PDU is 253 bytes; the shortest
// answer, an exception, is a function and its code.
constexpr std::size_t kLongestLength = 254;
constexpr std::size_t kShortestAnswer = 3;

} // namespace

std::vector<std::uint8_t> modbusTcpRequest(std::uint16_t transaction,
                                           std::span<const std::uint8_t> rtuFrame) {
    if (rtuFrame.size() < 4)
        return {};
    const std::size_t length = rtuFrame.size() - 2; // unit ID and PDU, without the CRC
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(transaction >> 8),
                                  static_cast<std::uint8_t>(transaction & 0xFF),
                                  0,
                                  0,
                                  static_cast<std::uint8_t>(length >> 8),
                                  static_cast<std::uint8_t>(length & 0xFF)};
    out.insert(out.end(), rtuFrame.begin(), rtuFrame.end() - 2);
    return out;
}

void ModbusTcpAnswers::expect(std::uint16_t transaction, std::uint8_t function,
                              std::size_t rtuLength) {
    transaction_ = transaction;
    function_ = function;
    rtuLength_ = rtuLength;
    awaiting_ = true;
}

void ModbusTcpAnswers::reset() {
    pending_.clear();
    awaiting_ = false;
}

// An exception answer is the function with its high bit and one code byte; a read answer's
// byte count says how many bytes follow it.
bool ModbusTcpAnswers::isAnswerAwaited(std::uint16_t transaction,
                                       std::span<const std::uint8_t> unitAndPdu) const {
    if (!awaiting_ || transaction != transaction_ || unitAndPdu.size() < kShortestAnswer)
        return false;
    const std::uint8_t function = unitAndPdu[1];
    if ((function & 0x7F) != function_)
        return false;
    const std::size_t rtuLength = unitAndPdu.size() + 2;
    if (function & 0x80)
        return rtuLength == kExceptionRtuLength;
    if (rtuLength_ != 0 && rtuLength != rtuLength_)
        return false;
    return function_ != 0x03 || unitAndPdu[2] == unitAndPdu.size() - 3;
}

bool ModbusTcpAnswers::feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t start = 0;
    bool inStep = true;
    while (pending_.size() - start >= kHeader) {
        const std::uint8_t* h = pending_.data() + start;
        const std::size_t length = static_cast<std::size_t>(h[4] << 8 | h[5]);
        // A length that cannot hold the unit ID and a function, or more than any PDU: the
        // stream cannot be cut into frames from here.
        if (h[2] != 0 || h[3] != 0 || length < 2 || length > kLongestLength) {
            inStep = false;
            break;
        }
        if (pending_.size() - start < 6 + length)
            break;
        const std::uint16_t transaction = static_cast<std::uint16_t>(h[0] << 8 | h[1]);
        const std::span<const std::uint8_t> unitAndPdu(h + 6, length);
        start += 6 + length;
        if (!isAnswerAwaited(transaction, unitAndPdu)) {
            ++dropped_;
            continue;
        }
        awaiting_ = false;
        const std::size_t from = out.size();
        out.insert(out.end(), unitAndPdu.begin(), unitAndPdu.end());
        const auto crc = crc16(std::span(out).subspan(from));
        out.push_back(crc[1]);
        out.push_back(crc[0]);
    }
    if (!inStep) {
        ++dropped_;
        pending_.clear();
    } else
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    return inStep;
}

} // namespace mirv
