#include "options.h"

#include "line_speed.h"
#include "meter_model.h"

#include <sstream>
#include <vector>

namespace mirv::sim {

const char* const kUsage = R"(Usage: meter-sim (--port DEVICE | --link PATH) [options]

A Modbus-RTU slave that answers function 03 for registers 0x30..0x8A like a flow and
energy meter, with readings that change over time and totals that grow.

  --port DEVICE         serve on an existing serial device (e.g. /dev/ttyUSB0)
  --link PATH           create a pseudo-terminal and make PATH a symbolic link to it;
                        the link is removed on exit
  --baud N              line speed: 600, 1200, 2400, 4800, 9600, 14400 or 19200
                        (default 9600; 8 data bits, no parity, 1 stop bit)
  --pace                send each answer at the pace of a real line: its bytes spread over
                        their wire time at the baud rate (10 bits a byte), after the turnaround
  --turnaround MS       with --pace, the meter's pause before it answers (default 5)
  --meters LIST         addresses to answer for, e.g. 1,2,5 or 1-20 (default 1)
  --alarm M:NAMES       alarm flags of meter M, NAMES from excite, electrode, empty-pipe,
                        upper, lower joined by '+', e.g. 3:excite+upper
  --fault M:KIND[:ARGS] make meter M misbehave:
                          silent          never answer
                          bad-crc         answer with a wrong CRC
                          short           answer only the first 100 bytes
                          delay:MS        answer after MS milliseconds
                          pieces:N:GAP    answer in N parts, GAP milliseconds apart
                          trailing        answer followed by one extra byte
                          exception       answer with exception 04 (5 bytes)
  --verbose             log every request and answer on standard error
  --help                show this text

SIGINT or SIGTERM end it cleanly.
)";

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, sep))
        out.push_back(part);
    return out;
}

bool toInt(const std::string& s, int& v) {
    try {
        std::size_t used = 0;
        v = std::stoi(s, &used);
        return used == s.size();
    } catch (...) {
        return false;
    }
}

bool parseMeters(const std::string& text, std::set<int>& meters) {
    meters.clear();
    for (const auto& item : split(text, ',')) {
        const auto range = split(item, '-');
        int lo = 0, hi = 0;
        if (range.size() == 1 && toInt(range[0], lo))
            hi = lo;
        else if (range.size() != 2 || !toInt(range[0], lo) || !toInt(range[1], hi))
            return false;
        if (lo < 1 || hi > 247 || lo > hi)
            return false;
        for (int m = lo; m <= hi; ++m)
            meters.insert(m);
    }
    return !meters.empty();
}

bool parseAlarm(const std::string& text, std::map<int, unsigned>& alarms) {
    const auto parts = split(text, ':');
    int meter = 0;
    if (parts.size() != 2 || !toInt(parts[0], meter))
        return false;
    unsigned bits = 0;
    for (const auto& name : split(parts[1], '+')) {
        if (name == "excite")
            bits |= ExciteAlarmBit;
        else if (name == "electrode")
            bits |= ElectrodeAlarmBit;
        else if (name == "empty-pipe")
            bits |= EmptyPipeAlarmBit;
        else if (name == "upper")
            bits |= UpperAlarmBit;
        else if (name == "lower")
            bits |= LowerAlarmBit;
        else
            return false;
    }
    alarms[meter] |= bits;
    return true;
}

bool parseFault(const std::string& text, std::map<int, Fault>& faults) {
    const auto parts = split(text, ':');
    int meter = 0;
    if (parts.size() < 2 || !toInt(parts[0], meter))
        return false;
    Fault f;
    const std::string& kind = parts[1];
    const std::size_t args = parts.size() - 2;
    if (kind == "silent" && args == 0)
        f.kind = Fault::Silent;
    else if (kind == "bad-crc" && args == 0)
        f.kind = Fault::BadCrc;
    else if (kind == "short" && args == 0)
        f.kind = Fault::Short;
    else if (kind == "trailing" && args == 0)
        f.kind = Fault::Trailing;
    else if (kind == "exception" && args == 0)
        f.kind = Fault::Exception;
    else if (kind == "delay" && args == 1 && toInt(parts[2], f.delayMs) && f.delayMs >= 0)
        f.kind = Fault::Delay;
    else if (kind == "pieces" && args == 2 && toInt(parts[2], f.pieces) &&
             toInt(parts[3], f.gapMs) && f.pieces >= 1 && f.gapMs >= 0)
        f.kind = Fault::Pieces;
    else
        return false;
    faults[meter] = f;
    return true;
}

} // namespace

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        bool ok = true;
        if (arg == "--verbose") {
            o.verbose = true;
        } else if (arg == "--pace") {
            o.pace = true;
        } else if (arg == "--port" || arg == "--link" || arg == "--baud" || arg == "--meters" ||
                   arg == "--alarm" || arg == "--fault" || arg == "--turnaround") {
            const auto v = value();
            if (!v)
                ok = false;
            else if (arg == "--port")
                o.port = *v;
            else if (arg == "--link")
                o.link = *v;
            else if (arg == "--baud")
                ok = toInt(*v, o.baud) && isStationBaud(o.baud);
            else if (arg == "--turnaround")
                ok = toInt(*v, o.turnaroundMs) && o.turnaroundMs >= 0;
            else if (arg == "--meters")
                ok = parseMeters(*v, o.meters);
            else if (arg == "--alarm")
                ok = parseAlarm(*v, o.alarms);
            else
                ok = parseFault(*v, o.faults);
        } else {
            ok = false;
        }
        if (!ok) {
            error = "meter-sim: bad argument near '" + arg + "' (see --help)";
            return std::nullopt;
        }
    }
    if (o.port.empty() == o.link.empty()) {
        error = "meter-sim: give exactly one of --port and --link (see --help)";
        return std::nullopt;
    }
    return o;
}

} // namespace mirv::sim
