#include "meter_link.h"

#include "compose_row.h"
#include "crc16.h"
#include "leading_number.h"
#include "profile_decoder.h"
#include "read_answer.h"
#include "read_request.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

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

std::int64_t MeterLink::steadyMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void MeterLink::stop() {
    stopped_ = true;
    stats.endSlot();
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
    eventUs_ = clockUs();
    stats.tick(eventUs_);
    port_.recover();
    port_.flushBoth();
    if (!plan_.empty()) {
        if (awaitingReply) {
            const int row = plan_[planMeter_].row;
            board_.clearRow(row);
            board_.setAnswered(row, false);
            countMissedPoll();
        }
        sendPlannedRequest();
        return;
    }
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
    stats.requestSent(polledAddress, frame, eventUs_);
    awaitingReply = true;
    receivedHex.clear();
    receivedFrame.clear();
}

void MeterLink::onBytesArrived() {
    const std::vector<std::uint8_t> bytes = port_.readAll();
    if (bytes.empty() || stopped_)
        return;
    eventUs_ = clockUs();
    stats.bytesReceived(bytes, eventUs_);
    if (!plan_.empty()) {
        // One byte past the answer is enough to know the answer is too long.
        const std::size_t expected = 5 + 2 * std::size_t{plannedRead().count};
        const std::size_t room = expected + 1 - std::min(answerBytes_.size(), expected + 1);
        answerBytes_.insert(answerBytes_.end(), bytes.begin(),
                            bytes.begin() + static_cast<long>(std::min(room, bytes.size())));
        if (awaitingReply && answerBytes_.size() == expected)
            takePlannedAnswer();
        return;
    }
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
    const bool crcOk = answerCrcMatches(answer);
    stats.answerTaken(answer[0], crcOk, eventUs_);
    if (!crcOk)
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

void MeterLink::setPlan(std::vector<PolledMeter> plan) {
    plan_ = std::move(plan);
    std::erase_if(plan_, [](const PolledMeter& m) {
        return !m.profile || m.profile->reads.empty() || !ReadingsBoard::isMeter(m.row);
    });
    planMeter_ = planRead_ = 0;
    planStarted_ = false;
    awaitingReply = false;
    answerBytes_.clear();
    readData_.clear();
}

const RegisterRead& MeterLink::plannedRead() const {
    return plan_[planMeter_].profile->reads[planRead_];
}

void MeterLink::sendPlannedRequest() {
    if (!planStarted_) {
        planStarted_ = true;
        planMeter_ = planRead_ = 0;
    } else if (++planRead_ >= plan_[planMeter_].profile->reads.size()) {
        planRead_ = 0;
        planMeter_ = (planMeter_ + 1) % plan_.size();
    }
    if (planRead_ == 0)
        readData_.clear();
    const PolledMeter& meter = plan_[planMeter_];
    const RegisterRead& read = plannedRead();
    currentAddress = meter.address;
    polledAddress = meter.address;
    const ReadRequest frame = makeReadRequest(meter.address, read.function, read.first, read.count);
    port_.write(frame);
    stats.requestSent(polledAddress, frame, eventUs_);
    awaitingReply = true;
    answerBytes_.clear();
}

// A whole answer's length came in: it counts when its CRC, address, function and byte count
// are the read's; anything else leaves the meter waiting, so the next tick finds it silent.
void MeterLink::takePlannedAnswer() {
    const RegisterRead& read = plannedRead();
    const std::vector<std::uint8_t>& bytes = answerBytes_;
    const auto crc = crc16(std::span(bytes).first(bytes.size() - 2));
    const bool crcOk = bytes[bytes.size() - 2] == crc[1] && bytes[bytes.size() - 1] == crc[0];
    if (crcOk && (bytes[1] != read.function || bytes[2] != 2 * read.count))
        return; // the line's counters judge it at the slot's end
    // Taken: the polled meter's answer may still follow a late or a foreign one.
    const std::vector<std::uint8_t> a = std::exchange(answerBytes_, {});
    stats.answerTaken(a[0], crcOk, eventUs_);
    if (!crcOk || a[0] != polledAddress)
        return;
    awaitingReply = false;
    missedInRow_ = 0;
    const PolledMeter& meter = plan_[planMeter_];
    // Only a round whose earlier reads were all answered makes a row.
    if (readData_.size() != planRead_)
        return;
    readData_.emplace_back(a.begin() + 3, a.end() - 2);
    if (readData_.size() < meter.profile->reads.size())
        return;
    const std::vector<ReadData> data(readData_.begin(), readData_.end());
    board_.setRow(meter.row, decodeWithProfile(*meter.profile, data));
    board_.setAnswered(meter.row, true);
}

void MeterLink::countMissedPoll() {
    constexpr int kSilentRounds = 3;
    const double count = leadingNumber(meterCount);
    int metersPolled =
        count >= 1 ? static_cast<int>(std::ceil(std::min(count, kHighestAddress))) : 1;
    if (!plan_.empty()) {
        metersPolled = 0;
        for (const PolledMeter& m : plan_)
            metersPolled += static_cast<int>(m.profile->reads.size());
    }
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
