#pragma once

#include "line_stats.h"
#include "meter_profile.h"
#include "readings_board.h"
#include "serial_port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mirv {

// A board row's meter as the link polls it: the address it answers at and its profile.
struct PolledMeter {
    int row = 0;
    std::uint8_t address = 0;
    std::shared_ptr<const MeterProfile> profile;
};

// One read the link polls, as the diagnostics name it; the meter's name is given by whoever
// knows it (the link does not).
struct PolledRead {
    ReadKey key;
    std::string profile;
    RegisterRead read;
    std::string name;
};

// The Modbus-RTU master: one request per poll tick, answers assembled from the receive events,
// decoded into the readings board, and the row of a meter that missed its poll emptied.
// Runs on the event thread; the window calls onPollTick and onBytesArrived.
class MeterLink {
  public:
    MeterLink(SerialPort& port, ReadingsBoard& board) : port_(port), board_(board) {}

    void onPollTick();
    void onBytesArrived();
    // Polls these meters in turn from the next tick on, one read a tick, and shows a meter's
    // row once every read of its round was answered. An empty plan (the default) polls as the
    // meter count says: addresses 1..count with the fixed read.
    void setPlan(std::vector<PolledMeter> plan);
    // Polling ends for good: no request goes out and no answer is decoded any more (bytes that
    // arrive are read and dropped), and every row is empty and unanswered.
    void stop();
    bool stopped() const { return stopped_; }

    // Link state. meterCount is the meter count as the operator gave it; only its leading
    // number counts.
    std::string meterCount;
    std::int16_t currentAddress = 0;
    std::uint8_t polledAddress = 0;
    bool awaitingReply = false;
    std::string receivedHex;
    std::string receivedFrame;

    // The reads polled, in the order polled: the plan's, or addresses 1..meter count with the
    // fixed read.
    std::vector<PolledRead> polledReads() const;

    // What the line did, read by read, and the monitor's frames.
    LineStats stats;
    // Monotonic microseconds; the tests may set another clock.
    std::function<std::int64_t()> clockUs = steadyMicroseconds;
    static std::int64_t steadyMicroseconds();

  private:
    void sendNextRequest();
    void handleAnswer();
    void blankMissedMeter();
    void countMissedPoll();
    void sendPlannedRequest();
    void takePlannedAnswers();
    void takePlannedAnswer();
    bool takeLateAnswer();
    bool lateAnswerLooksTheSame() const;
    bool opensLateAnswer() const;
    const RegisterRead& lateReadOf() const;
    void keepReadData(std::size_t meter, std::size_t read, std::span<const std::uint8_t> answer);
    const RegisterRead& plannedRead() const;

    SerialPort& port_;
    ReadingsBoard& board_;
    bool stopped_ = false;
    // The clock read once per event, for the counters.
    std::int64_t eventUs_ = 0;
    // Polls missed in a row, by whichever meters were polled.
    int missedInRow_ = 0;

    // Polling by plan: the meter and read asked last, the bytes that came for it, and for each
    // meter the register bytes of its reads answered so far this round.
    std::vector<PolledMeter> plan_;
    std::size_t planMeter_ = 0;
    std::size_t planRead_ = 0;
    bool planStarted_ = false;
    std::vector<std::uint8_t> answerBytes_;
    std::vector<std::vector<std::vector<std::uint8_t>>> readData_;
    // The request before, while its answer may still come late.
    bool lateOpen_ = false;
    std::size_t lateMeter_ = 0;
    std::size_t lateRead_ = 0;
};

} // namespace mirv
