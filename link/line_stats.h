#pragma once

#include "frame_ring.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace mirv {

// Why bytes that came in for a polled meter were not its answer.
enum class RejectCause : std::uint8_t {
    Crc,      // a whole answer whose CRC is wrong
    Short,    // fewer bytes than an answer
    Long,     // more bytes than an answer, and no answer in front of them
    Trailing, // an answer followed by more bytes
    Function, // a function other than the request's; an exception answer counts here
    Address,  // a whole answer from an address other than the polled one
};
constexpr int kRejectCauses = 6;

struct MeterCounters {
    std::uint64_t requests = 0;
    std::uint64_t answers = 0;
    std::uint64_t missed = 0;
    // Its answers that came after the next meter had been asked.
    std::uint64_t late = 0;
    std::array<std::uint64_t, kRejectCauses> rejects{};
    std::uint8_t lastException = 0; // 0 when none came
    // Bytes in its time slot that were no answer and no rejected answer.
    std::uint64_t strayBytes = 0;
    // Response times (see responseUs()), microseconds; empty until an answer came.
    std::optional<std::int64_t> responseLastUs;
    std::optional<std::int64_t> responseMinUs;
    std::optional<std::int64_t> responseMaxUs;
    std::int64_t responseSumUs = 0;
    std::uint32_t consecutiveMisses = 0;
    std::int64_t lastAnswerUs = 0;  // wall clock; 0 when none came
    std::int64_t lastTroubleUs = 0; // wall clock of the last miss or reject; 0 when none

    std::uint64_t rejected() const {
        std::uint64_t sum = 0;
        for (auto r : rejects)
            sum += r;
        return sum;
    }
    std::optional<std::int64_t> responseMeanUs() const {
        return answers ? std::optional(responseSumUs / static_cast<std::int64_t>(answers))
                       : std::nullopt;
    }
};

// The counters of one meter's reads together: counts and response sums added, the extremes
// and the latest times kept, the latest exception and response of the read that had them last.
void addRead(MeterCounters& meter, const MeterCounters& read);

// A read the link polls: the meter's address and which of its profile's reads (0 for a meter
// with one read).
struct ReadKey {
    std::uint8_t address = 0;
    std::uint8_t read = 0;
    auto operator<=>(const ReadKey&) const = default;
};

struct LineCounters {
    std::uint64_t bytesOut = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t ticks = 0;
    // Time between poll ticks as they actually came, microseconds.
    std::int64_t cycleLastUs = 0;
    std::int64_t cycleMaxUs = 0;
    std::int64_t cycleSumUs = 0; // over ticks - 1 cycles
    std::int64_t cycleMeanUs() const {
        return ticks > 1 ? cycleSumUs / static_cast<std::int64_t>(ticks - 1) : 0;
    }
};

// One meter's polls over an hour, for the Linkstats table.
struct HourTally {
    int meter = 0;
    std::uint64_t requests = 0;
    std::uint64_t answers = 0;
    std::uint64_t missed = 0;
    std::array<std::uint64_t, kRejectCauses> rejects{};
    std::int64_t responseSumUs = 0;
    // The hour's longest response; empty when no answer came.
    std::optional<std::int64_t> responseMaxUs;

    std::optional<std::int64_t> responseMeanUs() const {
        return answers ? std::optional(responseSumUs / static_cast<std::int64_t>(answers))
                       : std::nullopt;
    }
};

// What the line does, read by read. The link reports each request, the bytes as they come
// and each answer it takes; the bytes between one request and the next are that poll's time
// slot, judged when the slot ends. The hour's tallies are per meter, its reads together. Every
// frame also goes into the monitor's ring. Times are microseconds; `wallOffsetUs` turns the link's
// monotonic clock into wall-clock time.
class LineStats {
  public:
    static constexpr int kAddresses = 256;

    LineStats();

    // A request for the meter's read `read` went out to `address` at `nowUs`; ends the
    // previous poll's slot.
    void requestSent(std::uint8_t address, std::span<const std::uint8_t> request,
                     std::int64_t nowUs, std::uint8_t read = 0);
    void bytesReceived(std::span<const std::uint8_t> bytes, std::int64_t nowUs);
    // The link took the slot's next answer (as long as the request asked for) as one of
    // `address`; or, when `late`, as the late answer to the request before (as long as that
    // one asked for).
    void answerTaken(std::uint8_t address, bool crcOk, std::int64_t nowUs, bool late = false);
    // Ends the open slot without a new request (polling stopped).
    void endSlot();
    void tick(std::int64_t nowUs);

    // Resets the counters; the monitor keeps its frames and the hour its tallies.
    void reset();
    // The tallies of every meter polled since the last call, and a new hour begins.
    std::vector<HourTally> takeHour();

    // A meter's counters, its reads together.
    MeterCounters meter(int address) const;
    // Every read counted since the station started; 清零 zeroes them but keeps them listed.
    const std::map<ReadKey, MeterCounters>& reads() const { return reads_; }
    const LineCounters& line() const { return line_; }
    const FrameRing& frames() const { return ring_; }
    FrameRing& frames() { return ring_; }

    // The request's last byte leaves a request's wire time after it was written: 8 bytes of
    // 10 bits at the line's baud rate. 0 for a line the station does not drive itself (a
    // gateway): the response is then timed from the request's send.
    void setBaud(int baud) { requestWireUs = baud > 0 ? 80'000'000LL / baud : 0; }
    std::int64_t requestWireUs = 0;
    std::int64_t wallOffsetUs = 0;
    // The poll interval as set, for comparison with the actual cycle.
    int setIntervalMs = 0;

  private:
    void reject(MeterCounters& m, RejectCause cause, std::int64_t nowUs);
    void record(std::uint8_t meter, FrameVerdict verdict, bool out,
                std::span<const std::uint8_t> bytes, std::size_t fullLength, std::int64_t nowUs);
    void judgeRest();

    std::map<ReadKey, MeterCounters> reads_;
    // The open slot's read and the one before, by key: a copy of the counters (the link made
    // again after a Save) must count into its own map.
    MeterCounters* polledRead() { return polledKey_ ? &reads_[*polledKey_] : nullptr; }
    MeterCounters* previousRead() { return previousKey_ ? &reads_[*previousKey_] : nullptr; }
    // The counters when the hour began, and what 清零 took from the hour.
    std::array<HourTally, kAddresses> hourStart_{};
    std::array<HourTally, kAddresses> hourCarry_{};
    LineCounters line_;
    FrameRing ring_;

    // The open slot.
    bool slotOpen_ = false;
    std::uint8_t polled_ = 0;
    std::optional<ReadKey> polledKey_;
    std::uint8_t previous_ = 0;
    std::optional<ReadKey> previousKey_;
    bool answered_ = false;
    // What the slot's request asked for: the answer's function and length; and the length
    // the previous request asked for.
    std::uint8_t answerFunction_ = 0x03;
    std::size_t answerBytes_ = 0;
    std::size_t previousAnswerBytes_ = 0;
    std::int64_t requestSentUs_ = 0;
    // When the first byte of the slot's rest came in, at the latest.
    std::int64_t restFirstUs_ = 0;
    std::int64_t lastByteUs_ = 0;
    std::int64_t lastTickUs_ = 0;
    // The slot's bytes from the first one the link has not taken; beyond the buffer only
    // counted.
    std::vector<std::uint8_t> rest_;
    std::size_t restLength_ = 0;
};

} // namespace mirv
