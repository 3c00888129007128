#include "meter_link.h"

#include "compose_row.h"
#include "leading_number.h"
#include "read_answer.h"
#include "read_request.h"

#include <algorithm>

namespace mirv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

std::uint8_t hexByte(const std::string& text, std::size_t index) {
    return static_cast<std::uint8_t>(hexValue(text[2 * index]) * 16 +
                                     hexValue(text[2 * index + 1]));
}

// Addresses above 255 cannot be sent, so a larger meter count wraps there.
constexpr double kHighestAddress = 255;

} // namespace

void MeterLink::Timer1_Timer() {
    port_.recover();
    port_.flushOutput();
    port_.flushInput();
    AddrByte = static_cast<std::uint8_t>(CurAddr);
    if (WaitReply == 1)
        Status_Dowith();
    Send_Dowith();
}

void MeterLink::Send_Dowith() {
    const double count = std::min(leadingNumber(MeterCount), kHighestAddress);
    if (count > CurAddr) {
        ++CurAddr;
        AddrByte = static_cast<std::uint8_t>(CurAddr);
    } else {
        AddrByte = 1;
        CurAddr = 1;
    }
    const ReadRequest SendBytes = makeReadRequest(AddrByte);
    port_.write(SendBytes);
    WaitReply = 1;
    RecvHex.clear();
    RecvFrame.clear();
}

void MeterLink::MSComm1_OnComm() {
    const std::vector<std::uint8_t> bytes = port_.readAll();
    if (bytes.empty())
        return;
    for (std::uint8_t b : bytes) {
        RecvHex += kHexDigits[b >> 4];
        RecvHex += kHexDigits[b & 0x0F];
    }
    RecvFrame = RecvHex;
    if (RecvFrame.size() == kAnswerHexChars && hexValue(RecvFrame[3]) == 3)
        Data_Dowith();
}

void MeterLink::Data_Dowith() {
    RecvFrame = RecvHex;
    RecvHex.clear();
    if (RecvFrame.size() != kAnswerHexChars)
        return;
    ReadAnswer answer;
    for (std::size_t i = 0; i < kAnswerBytes; ++i)
        answer[i] = hexByte(RecvFrame, i);
    if (!answerCrcMatches(answer))
        return;
    const RegisterMap registers = readRegisterMap(answer);
    const int n = answer[0];
    // Only the polled meter's answer settles the poll; a late answer from the meter before
    // it must not hide that the polled one stayed silent.
    if (n == AddrByte)
        WaitReply = 0;
    if (ReadingsBoard::isMeter(n)) {
        board_.setRow(n, composeRow(registers));
        board_.setMeterOk(n, 1);
    }
}

void MeterLink::Status_Dowith() {
    const int n = AddrByte;
    if (!ReadingsBoard::isMeter(n))
        return;
    board_.clearRow(n);
    board_.setMeterOk(n, 0);
}

} // namespace mirv
