#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

namespace mirv::sim {

// How a meter misbehaves on request.
struct Fault {
    enum Kind { None, Silent, BadCrc, Short, Delay, Pieces, Trailing, Exception } kind = None;
    int delayMs = 0; // Delay: before answering
    int pieces = 1;  // Pieces: how many parts
    int gapMs = 0;   // Pieces: pause between parts
};

struct Options {
    std::string port; // serve on this existing device
    std::string link; // or create a pseudo-terminal and link this path to it
    int baud = 9600;
    bool pace = false;    // answer bytes spread over their wire time at `baud`
    int turnaroundMs = 5; // with pace: the pause before an answer starts
    std::set<int> meters{1};
    std::map<int, Fault> faults;
    std::map<int, unsigned> alarms;
    bool verbose = false;
};

// Parses the command line; on a mistake returns nothing and sets `error`.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

extern const char* const kUsage;

} // namespace mirv::sim
