#pragma once

#include "readings_board.h"
#include "serial_port.h"

#include <cstdint>
#include <string>

namespace mirv {

// The Modbus-RTU master: one request per poll tick, answers assembled from the receive events,
// decoded into the readings board, and the row of a meter that missed its poll emptied.
// Runs on the event thread; the window calls onPollTick and onBytesArrived.
class MeterLink {
  public:
    MeterLink(SerialPort& port, ReadingsBoard& board) : port_(port), board_(board) {}

    void onPollTick();
    void onBytesArrived();
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

  private:
    void sendNextRequest();
    void handleAnswer();
    void blankMissedMeter();
    void countMissedPoll();

    SerialPort& port_;
    ReadingsBoard& board_;
    bool stopped_ = false;
    // Polls missed in a row, by whichever meters were polled.
    int missedInRow_ = 0;
};

} // namespace mirv
