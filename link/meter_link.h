#pragma once

#include "readings_board.h"
#include "serial_port.h"

#include <cstdint>
#include <string>

namespace mirv {

// The Modbus-RTU master: one request per poll tick, answers assembled from the receive events,
// decoded into the readings board, and the row of a meter that missed its poll emptied.
// Runs on the event thread; the window calls Timer1_Timer and MSComm1_OnComm.
class MeterLink {
  public:
    MeterLink(SerialPort& port, ReadingsBoard& board) : port_(port), board_(board) {}

    void Timer1_Timer();
    void MSComm1_OnComm();

    // Link state. MeterCount is the meter count as the operator gave it; only its leading
    // number counts.
    std::string MeterCount;
    std::int16_t CurAddr = 0;
    std::uint8_t AddrByte = 0;
    std::int16_t WaitReply = 0;
    std::string RecvHex;
    std::string RecvFrame;

  private:
    void Send_Dowith();
    void Data_Dowith();
    void Status_Dowith();

    SerialPort& port_;
    ReadingsBoard& board_;
};

} // namespace mirv
