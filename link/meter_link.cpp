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

// The bytes of a whole answer to the read: address, function, byte count, registers, CRC.
std::size_t answerLength(const RegisterRead& read) {
    return 5 + 2 * std::size_t{read.count};
}

// Whether the bytes begin as the answer of `address` to the read does.
bool opensAnswer(std::span<const std::uint8_t> bytes, std::uint8_t address,
                 const RegisterRead& read) {
    return bytes.size() >= 3 && bytes[0] == address && bytes[1] == read.function &&
           bytes[2] == 2 * read.count;
}

bool crcMatches(std::span<const std::uint8_t> answer) {
    const auto crc = crc16(answer.first(answer.size() - 2));
    return answer[answer.size() - 2] == crc[1] && answer[answer.size() - 1] == crc[0];
}

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
        // A request missed may still be answered while the next one waits.
        lateOpen_ = planStarted_ && awaitingReply;
        lateMeter_ = planMeter_;
        lateRead_ = planRead_;
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
    stats.requestSent(polledAddress, frame, eventUs_, 0);
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
        // Room for a late answer and one byte past the polled answer: enough to know the
        // polled answer is too long.
        std::size_t kept = answerLength(plannedRead()) + 1;
        if (lateOpen_)
            kept += answerLength(lateReadOf());
        const std::size_t room = kept - std::min(answerBytes_.size(), kept);
        answerBytes_.insert(answerBytes_.end(), bytes.begin(),
                            bytes.begin() + static_cast<long>(std::min(room, bytes.size())));
        takePlannedAnswers();
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
    lateOpen_ = false;
    awaitingReply = false;
    answerBytes_.clear();
    readData_.assign(plan_.size(), {});
}

std::vector<PolledRead> MeterLink::polledReads() const {
    std::vector<PolledRead> reads;
    if (plan_.empty()) {
        const double count = std::min(leadingNumber(meterCount), kHighestAddress);
        const int meters = count >= 1 ? static_cast<int>(std::ceil(count)) : 1;
        for (int a = 1; a <= meters; ++a)
            reads.push_back({{static_cast<std::uint8_t>(a), 0},
                             "default",
                             {0x03, kFirstRegister, kRegisterCount},
                             {}});
        return reads;
    }
    for (const PolledMeter& m : plan_)
        for (std::size_t r = 0; r < m.profile->reads.size(); ++r)
            reads.push_back({{m.address, static_cast<std::uint8_t>(r)},
                             m.profile->name,
                             m.profile->reads[r],
                             {}});
    return reads;
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
        readData_[planMeter_].clear();
    const PolledMeter& meter = plan_[planMeter_];
    const RegisterRead& read = plannedRead();
    currentAddress = meter.address;
    polledAddress = meter.address;
    const ReadRequest frame = makeReadRequest(meter.address, read.function, read.first, read.count);
    port_.write(frame);
    stats.requestSent(polledAddress, frame, eventUs_, static_cast<std::uint8_t>(planRead_));
    awaitingReply = true;
    answerBytes_.clear();
}

// The answers the slot's bytes hold so far: first a late one to the request before, then the
// polled one; while a late answer is still coming in, the polled one waits behind it.
void MeterLink::takePlannedAnswers() {
    while (takeLateAnswer()) {
    }
    if (opensLateAnswer() && answerBytes_.size() < answerLength(lateReadOf()))
        return;
    if (awaitingReply && answerBytes_.size() == answerLength(plannedRead()))
        takePlannedAnswer();
}

const RegisterRead& MeterLink::lateReadOf() const {
    return plan_[lateMeter_].profile->reads[lateRead_];
}

// Whether the bytes open as the late answer: the request before had none yet, and they are not
// the polled read's answer, which goes first when both would fit.
bool MeterLink::opensLateAnswer() const {
    return lateOpen_ && !opensAnswer(answerBytes_, polledAddress, plannedRead()) &&
           opensAnswer(answerBytes_, plan_[lateMeter_].address, lateReadOf());
}

// A whole late answer, CRC and all, fills the row of the meter and read it answers; a late
// answer gone wrong is left to the polled read's rules.
bool MeterLink::takeLateAnswer() {
    const std::size_t length = answerLength(lateReadOf());
    if (!opensLateAnswer() || answerBytes_.size() < length ||
        !crcMatches(std::span(answerBytes_).first(length)))
        return false;
    lateOpen_ = false;
    stats.answerTaken(plan_[lateMeter_].address, true, eventUs_, true);
    keepReadData(lateMeter_, lateRead_, std::span(answerBytes_).first(length));
    answerBytes_.erase(answerBytes_.begin(),
                       answerBytes_.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

// A whole answer's length came in: it counts when its CRC, address, function and byte count
// are the read's; anything else leaves the meter waiting, so the next tick finds it silent.
void MeterLink::takePlannedAnswer() {
    const RegisterRead& read = plannedRead();
    const bool crcOk = crcMatches(answerBytes_);
    const std::vector<std::uint8_t>& bytes = answerBytes_;
    if (crcOk && (bytes[1] != read.function || bytes[2] != 2 * read.count))
        return; // the line's counters judge it at the slot's end
    // Taken: the polled meter's answer may still follow a late or a foreign one.
    const std::vector<std::uint8_t> a = std::exchange(answerBytes_, {});
    stats.answerTaken(a[0], crcOk, eventUs_);
    if (!crcOk || a[0] != polledAddress)
        return;
    awaitingReply = false;
    missedInRow_ = 0;
    if (lateAnswerLooksTheSame()) {
        // It may be the other read's late answer: its registers must not stand in for this
        // read's, so the meter's round makes no row.
        readData_[planMeter_].clear();
        return;
    }
    keepReadData(planMeter_, planRead_, a);
}

// Whether the request before was another read of the polled meter whose answer has the same
// function and length: on the wire the two answers cannot be told apart.
bool MeterLink::lateAnswerLooksTheSame() const {
    if (!lateOpen_ || lateMeter_ != planMeter_ || lateRead_ == planRead_)
        return false;
    const RegisterRead& late = lateReadOf();
    const RegisterRead& polled = plannedRead();
    return late.function == polled.function && late.count == polled.count;
}

// Keeps a read's register bytes for the meter's round; only a round whose earlier reads were
// all answered makes a row, decoded with the meter's profile once its last read came.
void MeterLink::keepReadData(std::size_t meterIndex, std::size_t read,
                             std::span<const std::uint8_t> answer) {
    const PolledMeter& meter = plan_[meterIndex];
    std::vector<std::vector<std::uint8_t>>& round = readData_[meterIndex];
    if (round.size() != read)
        return;
    round.emplace_back(answer.begin() + 3, answer.end() - 2);
    if (round.size() < meter.profile->reads.size())
        return;
    const std::vector<ReadData> data(round.begin(), round.end());
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
