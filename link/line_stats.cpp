#include "line_stats.h"

#include "crc16.h"
#include "read_answer.h"
#include "response_time.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace mirv {

namespace {

// Bytes of a slot kept for judging it; more are only counted.
constexpr std::size_t kRestKept = 1024;

bool leadingAnswerCrcMatches(std::span<const std::uint8_t> bytes, std::size_t length) {
    const auto crc = crc16(bytes.first(length - 2));
    return bytes[length - 2] == crc[1] && bytes[length - 1] == crc[0];
}

} // namespace

LineStats::LineStats() {
    using namespace std::chrono;
    wallOffsetUs = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() -
                   duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    rest_.reserve(kRestKept);
}

namespace {

// a + b - c, field by field; the maximum is the hour's own.
HourTally sinceHourStart(const HourTally& now, const HourTally& carry, const HourTally& start) {
    HourTally t = carry;
    t.requests += now.requests - start.requests;
    t.answers += now.answers - start.answers;
    t.missed += now.missed - start.missed;
    for (int c = 0; c < kRejectCauses; ++c)
        t.rejects[c] += now.rejects[c] - start.rejects[c];
    t.responseSumUs += now.responseSumUs - start.responseSumUs;
    return t;
}

// Each meter's tally now, its reads together.
std::vector<HourTally> tallies(const std::map<ReadKey, MeterCounters>& reads) {
    std::vector<HourTally> out(LineStats::kAddresses);
    for (const auto& [key, m] : reads) {
        HourTally& t = out[key.address];
        t.requests += m.requests;
        t.answers += m.answers;
        t.missed += m.missed;
        for (int c = 0; c < kRejectCauses; ++c)
            t.rejects[c] += m.rejects[c];
        t.responseSumUs += m.responseSumUs;
    }
    return out;
}

template <class T> void keepLeast(std::optional<T>& into, const std::optional<T>& v) {
    if (v && (!into || *v < *into))
        into = v;
}
template <class T> void keepMost(std::optional<T>& into, const std::optional<T>& v) {
    if (v && (!into || *v > *into))
        into = v;
}

} // namespace

void addRead(MeterCounters& meter, const MeterCounters& read) {
    meter.requests += read.requests;
    meter.answers += read.answers;
    meter.missed += read.missed;
    meter.late += read.late;
    for (int c = 0; c < kRejectCauses; ++c)
        meter.rejects[c] += read.rejects[c];
    meter.strayBytes += read.strayBytes;
    keepLeast(meter.responseMinUs, read.responseMinUs);
    keepMost(meter.responseMaxUs, read.responseMaxUs);
    meter.responseSumUs += read.responseSumUs;
    if (read.responseLastUs && (!meter.responseLastUs || read.lastAnswerUs >= meter.lastAnswerUs))
        meter.responseLastUs = read.responseLastUs;
    if (read.lastException && (!meter.lastException || read.lastTroubleUs >= meter.lastTroubleUs))
        meter.lastException = read.lastException;
    meter.consecutiveMisses = std::max(meter.consecutiveMisses, read.consecutiveMisses);
    meter.lastAnswerUs = std::max(meter.lastAnswerUs, read.lastAnswerUs);
    meter.lastTroubleUs = std::max(meter.lastTroubleUs, read.lastTroubleUs);
}

MeterCounters LineStats::meter(int address) const {
    MeterCounters m;
    for (auto it = reads_.lower_bound({static_cast<std::uint8_t>(address), 0});
         it != reads_.end() && it->first.address == address; ++it)
        addRead(m, it->second);
    return m;
}

void LineStats::reset() {
    const std::vector<HourTally> now = tallies(reads_);
    for (int a = 0; a < kAddresses; ++a) {
        hourCarry_[a] = sinceHourStart(now[a], hourCarry_[a], hourStart_[a]);
        hourStart_[a] = {};
    }
    for (auto& [key, m] : reads_)
        m = {};
    line_ = {};
}

std::vector<HourTally> LineStats::takeHour() {
    std::vector<HourTally> hour;
    const std::vector<HourTally> tally = tallies(reads_);
    for (int a = 1; a < kAddresses; ++a) {
        const HourTally& now = tally[a];
        HourTally t = sinceHourStart(now, hourCarry_[a], hourStart_[a]);
        t.meter = a;
        t.responseMaxUs = hourCarry_[a].responseMaxUs;
        if (t.requests > 0)
            hour.push_back(t);
        hourStart_[a] = now;
        hourCarry_[a] = {};
    }
    return hour;
}

void LineStats::tick(std::int64_t nowUs) {
    if (line_.ticks++ > 0) {
        const std::int64_t cycle = nowUs - lastTickUs_;
        line_.cycleLastUs = cycle;
        line_.cycleMaxUs = std::max(line_.cycleMaxUs, cycle);
        line_.cycleSumUs += cycle;
    }
    lastTickUs_ = nowUs;
}

void LineStats::requestSent(std::uint8_t address, std::span<const std::uint8_t> request,
                            std::int64_t nowUs, std::uint8_t read) {
    if (slotOpen_) {
        endSlot();
        previous_ = polled_;
        previousKey_ = polledKey_;
        previousAnswerBytes_ = answerBytes_;
    }
    slotOpen_ = true;
    polled_ = address;
    polledKey_ = ReadKey{address, read};
    reads_.try_emplace(*polledKey_);
    // The answer a read request asks for: its function and 5 bytes around the registers.
    answerFunction_ = 0x03;
    answerBytes_ = kAnswerBytes;
    if (request.size() == 8 && (request[1] == 0x03 || request[1] == 0x04)) {
        const std::size_t count = request[4] << 8 | request[5];
        if (count >= 1 && count <= 125) {
            answerFunction_ = request[1];
            answerBytes_ = 5 + 2 * count;
        }
    }
    answered_ = false;
    rest_.clear();
    restLength_ = 0;
    requestSentUs_ = nowUs;
    ++polledRead()->requests;
    line_.bytesOut += request.size();
    // Stamped when written: whatever comes in for it comes later.
    record(address, FrameVerdict::Request, true, request, request.size(), nowUs);
}

void LineStats::bytesReceived(std::span<const std::uint8_t> bytes, std::int64_t nowUs) {
    line_.bytesIn += bytes.size();
    lastByteUs_ = nowUs;
    if (!slotOpen_) {
        reads_[{}].strayBytes += bytes.size();
        record(0, FrameVerdict::Foreign, false, bytes, bytes.size(), nowUs);
        return;
    }
    if (restLength_ == 0)
        restFirstUs_ = nowUs;
    const std::size_t room = kRestKept - rest_.size();
    rest_.insert(rest_.end(), bytes.begin(), bytes.begin() + std::min(room, bytes.size()));
    restLength_ += bytes.size();
}

void LineStats::answerTaken(std::uint8_t address, bool crcOk, std::int64_t nowUs, bool late) {
    late = late && previousKey_.has_value();
    const std::size_t length = late ? previousAnswerBytes_ : answerBytes_;
    if (!slotOpen_ || rest_.size() < length)
        return;
    FrameVerdict verdict = FrameVerdict::Answer;
    if (!crcOk) {
        verdict = FrameVerdict::CrcWrong;
        reject(*polledRead(), RejectCause::Crc, nowUs);
    } else if (address == polled_ && !late) {
        MeterCounters& m = *polledRead();
        const std::int64_t response =
            responseUs(requestSentUs_, requestWireUs, restFirstUs_, nowUs);
        m.responseMinUs = std::min(m.responseMinUs.value_or(response), response);
        m.responseMaxUs = std::max(m.responseMaxUs.value_or(response), response);
        m.responseLastUs = response;
        m.responseSumUs += response;
        // The hour's longest answer is kept with what the hour carries.
        std::optional<std::int64_t>& hourMax = hourCarry_[polled_].responseMaxUs;
        hourMax = std::max(hourMax.value_or(response), response);
        ++m.answers;
        m.consecutiveMisses = 0;
        m.lastAnswerUs = nowUs + wallOffsetUs;
        answered_ = true;
    } else if (late ||
               (previousKey_ && address == previous_ && previousAnswerBytes_ == answerBytes_)) {
        verdict = FrameVerdict::Late;
        ++previousRead()->late;
    } else {
        verdict = FrameVerdict::Foreign;
        reject(*polledRead(), RejectCause::Address, nowUs);
    }
    record(verdict == FrameVerdict::Late ? previous_ : polled_, verdict, false,
           std::span(rest_).first(length), length, nowUs);
    rest_.erase(rest_.begin(), rest_.begin() + static_cast<std::ptrdiff_t>(length));
    restLength_ -= length;
    // What is left came in with the answer's last byte or before.
    restFirstUs_ = nowUs;
}

void LineStats::endSlot() {
    if (!slotOpen_)
        return;
    judgeRest();
    MeterCounters& m = *polledRead();
    if (!answered_) {
        ++m.missed;
        ++m.consecutiveMisses;
        m.lastTroubleUs = lastTickUs_ + wallOffsetUs;
    }
    slotOpen_ = false;
}

// The bytes of the slot the link did not take: the polled meter's answer gone wrong, or
// bytes of no answer.
void LineStats::judgeRest() {
    if (restLength_ == 0)
        return;
    const std::span<const std::uint8_t> rest(rest_);
    FrameVerdict verdict = FrameVerdict::LengthWrong;
    if (answered_ || rest[0] != polled_) {
        verdict = FrameVerdict::Foreign;
        polledRead()->strayBytes += restLength_;
    } else if (restLength_ >= 2 && rest[1] != answerFunction_) {
        const bool exception = (rest[1] & 0x80) != 0;
        verdict = exception ? FrameVerdict::Exception : FrameVerdict::Foreign;
        if (exception && restLength_ >= 3)
            polledRead()->lastException = rest[2];
        reject(*polledRead(), RejectCause::Function, lastByteUs_);
    } else if (restLength_ < answerBytes_) {
        reject(*polledRead(), RejectCause::Short, lastByteUs_);
    } else if (restLength_ > answerBytes_) {
        reject(*polledRead(),
               leadingAnswerCrcMatches(rest, answerBytes_) ? RejectCause::Trailing
                                                           : RejectCause::Long,
               lastByteUs_);
    } else {
        verdict = FrameVerdict::CrcWrong;
        reject(*polledRead(), RejectCause::Crc, lastByteUs_);
    }
    record(polled_, verdict, false, rest, restLength_, lastByteUs_);
}

void LineStats::reject(MeterCounters& m, RejectCause cause, std::int64_t nowUs) {
    ++m.rejects[static_cast<int>(cause)];
    m.lastTroubleUs = nowUs + wallOffsetUs;
}

void LineStats::record(std::uint8_t meter, FrameVerdict verdict, bool out,
                       std::span<const std::uint8_t> bytes, std::size_t fullLength,
                       std::int64_t nowUs) {
    MonitorFrame& f = ring_.push();
    f.wallUs = nowUs + wallOffsetUs;
    f.length = static_cast<std::uint32_t>(fullLength);
    f.meter = meter;
    f.verdict = verdict;
    f.out = out;
    const std::size_t kept = std::min(bytes.size(), MonitorFrame::kKeptBytes);
    std::memcpy(f.bytes.data(), bytes.data(), kept);
}

} // namespace mirv
