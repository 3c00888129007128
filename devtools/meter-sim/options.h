#pragma once

#include "meter_profile.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace mirv::sim {

// How a meter misbehaves on request.
struct Fault {
    enum Kind {
        None,
        Silent,
        BadCrc,
        Short,
        Delay,
        Pieces,
        Trailing,
        Exception,
        HangUp,
        Address,
        CorruptEvery
    } kind = None;
    int delayMs = 0; // Delay: before answering
    int pieces = 1;  // Pieces: how many parts
    int gapMs = 0;   // Pieces: pause between parts
    int address = 0; // Address: the address the answers carry
    int every = 1;   // CorruptEvery: every N-th answer has a wrong CRC
};

// Where a network side listens: a host name or address and a port.
struct ListenAddress {
    std::string host;
    int port = 0;
};

struct Options {
    std::string port;                       // serve on this existing device
    std::string link;                       // or create a pseudo-terminal and link this path to it
    std::optional<ListenAddress> tcpListen; // RTU frames over TCP
    std::optional<ListenAddress> modbusTcpListen; // Modbus TCP
    int baud = 9600;
    bool pace = false;    // answer bytes spread over their wire time at `baud`
    int turnaroundMs = 5; // with pace: the pause before an answer starts
    std::set<int> meters{1};
    // Meters that answer as a profile says (--meter), by address; also in `meters`.
    std::map<int, std::shared_ptr<const MeterProfile>> profiles;
    std::map<int, Fault> faults;
    std::map<int, unsigned> alarms;
    std::string control; // a FIFO to make here for control lines while running
    bool verbose = false;
};

// The options of a command line, or why there are none: `help` holds the usage text when
// --help was asked for, `error` one line when the command line is wrong.
struct CommandLine {
    std::optional<Options> options;
    std::string help;
    std::string error;
};

CommandLine parseCommandLine(int argc, char** argv);

// Alarm flag names joined by '+' ("excite+upper") as their bits.
std::optional<unsigned> parseAlarmNames(const std::string& text);
// A whole number written out alone, without sign padding or trailing text.
std::optional<int> parseWhole(const std::string& text);

// "HOST:PORT" or "[V6ADDRESS]:PORT" with a port of 1..65535.
std::optional<ListenAddress> parseListenAddress(const std::string& text);

} // namespace mirv::sim
