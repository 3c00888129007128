#include "modbus_tcp_frame.h"

#include "crc16.h"

namespace mirv {

namespace {

constexpr std::size_t kHeader = 7; // transaction, protocol, length, unit ID
// The longest Modbus PDU is 253 bytes; the length field counts the unit ID too.
constexpr std::size_t kLongestLength = 254;

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

bool ModbusTcpAnswers::feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t start = 0;
    bool inStep = true;
    while (pending_.size() - start >= kHeader) {
        const std::uint8_t* h = pending_.data() + start;
        const std::size_t length = static_cast<std::size_t>(h[4] << 8 | h[5]);
        if (h[2] != 0 || h[3] != 0 || length < 2 || length > kLongestLength) {
            inStep = false;
            break;
        }
        if (pending_.size() - start < 6 + length)
            break;
        const std::uint16_t transaction = static_cast<std::uint16_t>(h[0] << 8 | h[1]);
        const std::span<const std::uint8_t> unitAndPdu(h + 6, length);
        start += 6 + length;
        // An exception answer is the function with its high bit and one code byte; a read
        // answer's byte count says how many bytes follow it.
        const bool exception = unitAndPdu[1] & 0x80;
        const std::size_t wanted = exception ? 5 : rtuLength_;
        const bool lengthRight = wanted == 0 || length + 2 == wanted;
        const bool countRight = exception || function_ != 0x03 || unitAndPdu[2] == length - 3;
        if (!awaiting_ || transaction != transaction_ || (unitAndPdu[1] & 0x7F) != function_ ||
            !lengthRight || !countRight)
            continue;
        awaiting_ = false;
        const std::size_t from = out.size();
        out.insert(out.end(), unitAndPdu.begin(), unitAndPdu.end());
        const auto crc = crc16(std::span(out).subspan(from));
        out.push_back(crc[1]);
        out.push_back(crc[0]);
    }
    if (!inStep)
        pending_.clear();
    else
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    return inStep;
}

} // namespace mirv
