#include "meter_link.h"

#include "compose_row.h"
#include "leading_number.h"
#include "read_answer.h"
#include "read_request.h"

#include <algorithm>
#include <cmath>

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

void MeterLink::stop() {
    stopped_ = true;
    receivedHex.clear();
    receivedFrame.clear();
    awaitingReply = false;
    for (int n = 1; n <= kMeters; ++n) {
        board_.clearRow(n);
        board_.setAnswered(n, false);
    }
}

void MeterLink::onPollTick() {
    if (stopped_)
        return;
    port_.recover();
    port_.flushOutput();
    port_.flushInput();
    polledAddress = static_cast<std::uint8_t>(currentAddress);
    if (awaitingReply) {
        blankMissedMeter();
        countMissedPoll();
    }
    sendNextRequest();
}

void MeterLink::sendNextRequest() {
    const double count = std::min(leadingNumber(meterCount), kHighestAddress);
    if (count > currentAddress) {
        ++currentAddress;
        polledAddress = static_cast<std::uint8_t>(currentAddress);
    } else {
        polledAddress = 1;
        currentAddress = 1;
    }
    const ReadRequest frame = makeReadRequest(polledAddress);
    port_.write(frame);
    awaitingReply = true;
    receivedHex.clear();
    receivedFrame.clear();
}

void MeterLink::onBytesArrived() {
    const std::vector<std::uint8_t> bytes = port_.readAll();
    if (bytes.empty() || stopped_)
        return;
    for (std::uint8_t b : bytes) {
        // A text longer than a whole answer can never be decoded before the next request
        // empties it; letting it grow would only cost memory and time on every event.
        if (receivedHex.size() > kAnswerHexChars)
            break;
        receivedHex += kHexDigits[b >> 4];
        receivedHex += kHexDigits[b & 0x0F];
    }
    receivedFrame = receivedHex;
    if (receivedFrame.size() == kAnswerHexChars && hexValue(receivedFrame[3]) == 3)
        handleAnswer();
}

void MeterLink::handleAnswer() {
    receivedFrame = receivedHex;
    receivedHex.clear();
    if (receivedFrame.size() != kAnswerHexChars)
        return;
    ReadAnswer answer;
    for (std::size_t i = 0; i < kAnswerBytes; ++i)
        answer[i] = hexByte(receivedFrame, i);
    if (!answerCrcMatches(answer))
        return;
    const RegisterMap registers = readRegisterMap(answer);
    const int n = answer[0];
    // Only the polled meter's answer settles the poll; a late answer from the meter before
    // it must not hide that the polled one stayed silent.
    if (n == polledAddress) {
        awaitingReply = false;
        missedInRow_ = 0;
    }
    if (ReadingsBoard::isMeter(n)) {
        board_.setRow(n, composeRow(registers));
        board_.setAnswered(n, true);
    }
}

void MeterLink::countMissedPoll() {
    constexpr int kSilentRounds = 3;
    const double count = leadingNumber(meterCount);
    const int metersPolled =
        count >= 1 ? static_cast<int>(std::ceil(std::min(count, kHighestAddress))) : 1;
    if (++missedInRow_ >= kSilentRounds * metersPolled) {
        missedInRow_ = 0;
        port_.farEndSilent();
    }
}

void MeterLink::blankMissedMeter() {
    const int n = polledAddress;
    if (!ReadingsBoard::isMeter(n))
        return;
    board_.clearRow(n);
    board_.setAnswered(n, false);
}

} // namespace mirv
