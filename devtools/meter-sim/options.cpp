#include "options.h"

#include "line_speed.h"
#include "meter_model.h"
#include "meter_profile_file.h"

#include <CLI/CLI.hpp>
#include <sstream>
#include <vector>

namespace mirv::sim {

namespace {

constexpr const char* kDescription =
    "A Modbus-RTU slave that answers function 03 for registers 0x30..0x8A like a flow and "
    "energy meter, with readings that change over time and totals that grow; a meter given "
    "with --meter answers the reads of its profile instead (functions 03 and 04). It serves a "
    "serial line, a gateway's network side (RTU over TCP, Modbus TCP), or several at once.";

constexpr const char* kFooter = R"(Faults (--fault M:KIND):
  silent          never answer
  bad-crc         answer with a wrong CRC (Modbus TCP: with a wrong transaction ID)
  short           answer only the first 100 bytes (Modbus TCP: a truncated answer)
  delay:MS        answer after MS milliseconds
  pieces:N:GAP    answer in N parts, GAP milliseconds apart
  trailing        answer followed by one extra byte (Modbus TCP: inside the answer)
  exception       answer with exception 04
  hang-up         send half the answer, then close the network connection
  address:A       answer as if it were meter A
  corrupt:N       every N-th answer with a wrong CRC

Control lines (--control PATH), one command a line, applied at once:
  silent M        meter M stops answering
  answer M        meter M answers again
  alarm M:NAMES   meter M's alarm flags become NAMES (as --alarm), or none: M:none
e.g. echo 'silent 3' > PATH

A network side serves one client at a time; others wait until it leaves.
SIGINT or SIGTERM end it cleanly.)";

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
        return used == s.size() && !s.empty() && s[0] != ' ';
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
    const auto bits = parseAlarmNames(parts[1]);
    if (!bits)
        return false;
    alarms[meter] |= *bits;
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
    else if (kind == "hang-up" && args == 0)
        f.kind = Fault::HangUp;
    else if (kind == "address" && args == 1 && toInt(parts[2], f.address) && f.address >= 0 &&
             f.address <= 255)
        f.kind = Fault::Address;
    else if (kind == "corrupt" && args == 1 && toInt(parts[2], f.every) && f.every >= 1)
        f.kind = Fault::CorruptEvery;
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

// "ADDRESS[:PROFILE]": the address and the profile's name or file ("default" when left out).
bool parseMeter(const std::string& text, int& address, std::string& profile) {
    const auto colon = text.find(':');
    profile = colon == std::string::npos ? "default" : text.substr(colon + 1);
    return toInt(text.substr(0, colon), address) && address >= 1 && address <= 247 &&
           !profile.empty();
}

// A check that accepts what `parse` accepts and otherwise names the expected form.
template <typename Parse> CLI::Validator accepting(const std::string& form, Parse parse) {
    return CLI::Validator(
        [form, parse](std::string& value) {
            return parse(value) ? std::string() : "'" + value + "' is not " + form;
        },
        "");
}

} // namespace

std::optional<unsigned> parseAlarmNames(const std::string& text) {
    unsigned bits = 0;
    for (const auto& name : split(text, '+')) {
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
            return std::nullopt;
    }
    return bits;
}

std::optional<int> parseWhole(const std::string& text) {
    int v = 0;
    return toInt(text, v) ? std::optional(v) : std::nullopt;
}

std::optional<ListenAddress> parseListenAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    ListenAddress a;
    a.host = text.substr(0, colon);
    if (a.host.size() > 2 && a.host.front() == '[' && a.host.back() == ']')
        a.host = a.host.substr(1, a.host.size() - 2);
    const std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || !toInt(port, a.port) ||
        a.port < 1 || a.port > 65535)
        return std::nullopt;
    return a;
}

CommandLine parseCommandLine(int argc, char** argv) {
    Options o;
    std::string meters, tcpListen, modbusTcpListen;
    std::vector<std::string> alarms, faults, profileMeters;
    std::string profilesFolder = MIRV_SIM_PROFILES_DIR;
    CLI::App app(kDescription, "meter-sim");
    app.footer(kFooter);
    auto* port = app.add_option("--port", o.port, "serve on an existing serial device")
                     ->type_name("DEVICE")
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    auto* link = app.add_option("--link", o.link,
                                "create a pseudo-terminal and make PATH a symbolic link to it "
                                "(removed on exit)")
                     ->type_name("PATH")
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    port->excludes(link);
    auto listen = accepting("HOST:PORT",
                            [](const std::string& v) { return parseListenAddress(v).has_value(); });
    app.add_option("--tcp-listen", tcpListen,
                   "serve RTU frames over TCP on HOST:PORT, as a gateway in transparent mode")
        ->type_name("HOST:PORT")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(listen);
    app.add_option("--modbus-tcp-listen", modbusTcpListen,
                   "serve Modbus TCP on HOST:PORT, the unit ID naming the meter")
        ->type_name("HOST:PORT")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(listen);
    app.add_option("--baud", o.baud,
                   "line speed: 600, 1200, 2400, 4800, 9600, 14400 or 19200 (default 9600; 8 "
                   "data bits, no parity, 1 stop bit)")
        ->type_name("N")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(CLI::Validator(
            [](std::string& v) {
                int b = 0;
                return toInt(v, b) && isStationBaud(b) ? std::string()
                                                       : "'" + v + "' is not a station baud rate";
            },
            ""));
    app.add_flag("--pace", o.pace,
                 "send each answer at the pace of a real line: its bytes spread over their wire "
                 "time at the baud rate (10 bits a byte), after the turnaround");
    app.add_option("--turnaround", o.turnaroundMs,
                   "with --pace, the meter's pause before it answers (default 5)")
        ->type_name("MS")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(accepting("a whole number of milliseconds", [](const auto& v) {
            int ms = 0;
            return toInt(v, ms) && ms >= 0;
        }));
    app.add_option("--meters", meters, "addresses to answer for, e.g. 1,2,5 or 1-20 (default 1)")
        ->type_name("LIST")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(accepting("a list like 1,2,5 or 1-20 of addresses 1..247", [](const auto& v) {
            std::set<int> m;
            return parseMeters(v, m);
        }));
    app.add_option("--meter", profileMeters,
                   "also answer at ADDRESS as the meter PROFILE describes: a profile's name in the "
                   "profiles folder or a profile file (default: default); repeatable")
        ->type_name("ADDRESS[:PROFILE]")
        ->check(accepting("ADDRESS[:PROFILE] with an address of 1..247", [](const auto& v) {
            int address = 0;
            std::string profile;
            return parseMeter(v, address, profile);
        }));
    app.add_option("--profiles", profilesFolder,
                   "the folder of the profiles --meter names (default " MIRV_SIM_PROFILES_DIR ")")
        ->type_name("DIR")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--alarm", alarms,
                   "alarm flags of meter M, NAMES from excite, electrode, empty-pipe, upper, "
                   "lower joined by '+', e.g. 3:excite+upper")
        ->type_name("M:NAMES")
        ->check(accepting("M:NAMES", [](const auto& v) {
            std::map<int, unsigned> a;
            return parseAlarm(v, a);
        }));
    app.add_option("--fault", faults, "make meter M misbehave (kinds below)")
        ->type_name("M:KIND[:ARGS]")
        ->check(accepting("M:KIND[:ARGS]", [](const auto& v) {
            std::map<int, Fault> f;
            return parseFault(v, f);
        }));
    app.add_option("--control", o.control,
                   "make a FIFO at PATH (removed on exit) that takes control lines (below) while "
                   "it runs")
        ->type_name("PATH")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--verbose", o.verbose, "log every request and answer on standard error");

    CommandLine result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        result.help = app.help();
        return result;
    } catch (const CLI::ParseError& e) {
        result.error = "meter-sim: " + std::string(e.what()) + " (see --help)";
        return result;
    }
    if (!meters.empty())
        parseMeters(meters, o.meters);
    else if (!profileMeters.empty())
        o.meters.clear();
    for (const auto& m : profileMeters) {
        int address = 0;
        std::string name;
        parseMeter(m, address, name);
        ProfileResult profile = findMeterProfile(profilesFolder, name);
        if (!profile.profile) {
            result.error = "meter-sim: " + profile.error;
            return result;
        }
        o.meters.insert(address);
        o.profiles[address] = std::make_shared<const MeterProfile>(std::move(*profile.profile));
    }
    for (const auto& a : alarms)
        parseAlarm(a, o.alarms);
    for (const auto& f : faults)
        parseFault(f, o.faults);
    if (!tcpListen.empty())
        o.tcpListen = parseListenAddress(tcpListen);
    if (!modbusTcpListen.empty())
        o.modbusTcpListen = parseListenAddress(modbusTcpListen);
    if (o.port.empty() && o.link.empty() && !o.tcpListen && !o.modbusTcpListen) {
        result.error = "meter-sim: give --port or --link, --tcp-listen or --modbus-tcp-listen "
                       "(see --help)";
        return result;
    }
    result.options = o;
    return result;
}

} // namespace mirv::sim
