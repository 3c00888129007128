#include "responder.h"

#include "crc16.h"
#include "profile_registers.h"
#include "read_answer.h"

#include <algorithm>
#include <cstdio>

namespace mirv::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes exceptionAnswer(std::uint8_t address, std::uint8_t function, std::uint8_t code) {
    Bytes a{address, static_cast<std::uint8_t>(function | 0x80), code};
    const auto crc = crc16(a);
    a.push_back(crc[1]);
    a.push_back(crc[0]);
    return a;
}

// An RTU frame (address, PDU, CRC) in Modbus TCP framing: the header with `transaction`, the
// address as unit ID, the PDU; the CRC has no place there.
Bytes inModbusTcp(std::uint16_t transaction, const Bytes& rtu) {
    const std::size_t pduEnd = rtu.size() >= 3 ? rtu.size() - 2 : rtu.size();
    const std::size_t length = pduEnd; // unit ID and PDU
    Bytes out(6 + pduEnd);
    out[0] = static_cast<std::uint8_t>(transaction >> 8);
    out[1] = static_cast<std::uint8_t>(transaction & 0xFF);
    out[4] = static_cast<std::uint8_t>(length >> 8);
    out[5] = static_cast<std::uint8_t>(length & 0xFF);
    std::copy(rtu.begin(), rtu.begin() + static_cast<std::ptrdiff_t>(pduEnd), out.begin() + 6);
    return out;
}

// The answer of a profile's meter to a read inside one of the profile's reads of that
// function; empty when the registers asked are not all in one.
Bytes profileAnswer(const MeterProfile& profile, MeterModel& model, std::uint8_t address,
                    std::uint8_t function, unsigned first, unsigned count, double now) {
    const auto registers = profileRegisters(profile, model.registersAt(now), model.alarms);
    for (std::size_t i = 0; i < profile.reads.size(); ++i) {
        const RegisterRead& r = profile.reads[i];
        if (r.function != function || first < r.first || count < 1 || count > 125 ||
            first + count > r.first + r.count)
            continue;
        Bytes a{address, function, static_cast<std::uint8_t>(2 * count)};
        const auto from = registers[i].begin() + 2 * static_cast<long>(first - r.first);
        a.insert(a.end(), from, from + 2 * static_cast<long>(count));
        const auto crc = crc16(a);
        a.push_back(crc[1]);
        a.push_back(crc[0]);
        return a;
    }
    return {};
}

void logBytes(const char* what, std::span<const std::uint8_t> bytes) {
    std::fprintf(stderr, "%s %zu bytes:", what, bytes.size());
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i)
        std::fprintf(stderr, " %02X", bytes[i]);
    std::fprintf(stderr, bytes.size() > 8 ? " ...\n" : "\n");
}

} // namespace

Responder::Responder(const Options& options) : options_(options) {
    for (int m : options.meters) {
        auto& model = meters_.emplace(m, MeterModel(m)).first->second;
        if (auto a = options.alarms.find(m); a != options.alarms.end())
            model.alarms = a->second;
    }
}

bool Responder::setSilenced(int meter, bool silenced) {
    if (!meters_.contains(meter))
        return false;
    if (silenced)
        silenced_.insert(meter);
    else
        silenced_.erase(meter);
    return true;
}

bool Responder::setAlarms(int meter, unsigned alarms) {
    const auto m = meters_.find(meter);
    if (m == meters_.end())
        return false;
    m->second.alarms = alarms;
    return true;
}

std::vector<Chunk> Responder::feed(std::span<const std::uint8_t> received, double now) {
    return feed(line_, received, now);
}

std::vector<Chunk> Responder::feed(RequestStream& stream, std::span<const std::uint8_t> received,
                                   double now) {
    stream.pending.insert(stream.pending.end(), received.begin(), received.end());
    return stream.modbusTcp ? feedModbusTcp(stream, now) : feedRtu(stream, now);
}

// Function 03, and 04 for a meter whose profile reads input registers.
bool Responder::answersFunction(std::uint8_t address, std::uint8_t function) const {
    return function == 0x03 || (function == 0x04 && options_.profiles.contains(address));
}

std::vector<Chunk> Responder::feedRtu(RequestStream& stream, double now) {
    auto& pending = stream.pending;
    std::vector<Chunk> out;
    std::size_t start = 0;
    while (pending.size() - start >= 8) {
        const std::uint8_t* frame = pending.data() + start;
        const auto crc = crc16(std::span(frame, 6));
        if (answersFunction(frame[0], frame[1]) && frame[6] == crc[1] && frame[7] == crc[0]) {
            auto chunks = answer(frame, now, std::nullopt);
            out.insert(out.end(), chunks.begin(), chunks.end());
            start += 8;
        } else {
            ++start; // line noise: resynchronise byte by byte
        }
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(start));
    return out;
}

std::vector<Chunk> Responder::feedModbusTcp(RequestStream& stream, double now) {
    auto& pending = stream.pending;
    std::vector<Chunk> out;
    std::size_t start = 0;
    while (!stream.broken && pending.size() - start >= 7) {
        const std::uint8_t* h = pending.data() + start;
        const std::uint16_t transaction = static_cast<std::uint16_t>(h[0] << 8 | h[1]);
        const std::size_t length = static_cast<std::size_t>(h[4] << 8 | h[5]);
        if (h[2] != 0 || h[3] != 0 || length < 2 || length > 254) {
            stream.broken = true;
            break;
        }
        if (pending.size() - start < 6 + length)
            break;
        // The request in RTU form, so that one answering path serves both framings.
        Bytes rtu(h + 6, h + 6 + length);
        const auto crc = crc16(rtu);
        rtu.push_back(crc[1]);
        rtu.push_back(crc[0]);
        start += 6 + length;
        std::vector<Chunk> chunks;
        if (answersFunction(rtu[0], rtu[1]) && rtu.size() == 8)
            chunks = answer(rtu.data(), now, transaction);
        else if (meters_.contains(rtu[0]))
            chunks = {{now, inModbusTcp(transaction, exceptionAnswer(rtu[0], rtu[1], 0x01))}};
        out.insert(out.end(), chunks.begin(), chunks.end());
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(start));
    return out;
}

// Each chunk starts after the turnaround and goes out as the line would carry it: byte i is
// through after i + 1 character times. The bytes are written in groups of about 5 ms.
std::vector<Chunk> Responder::paced(const std::vector<Chunk>& chunks) const {
    const double character = 10.0 / options_.baud;
    const double group = 0.005;
    std::vector<Chunk> out;
    for (const Chunk& c : chunks) {
        const double start = c.dueSeconds + options_.turnaroundMs / 1000.0;
        const std::size_t first = out.size();
        double groupStart = start;
        for (std::size_t i = 0; i < c.bytes.size(); ++i) {
            const double through = start + static_cast<double>(i + 1) * character;
            if (out.size() == first || through - groupStart >= group) {
                out.push_back({through, {}});
                groupStart = through;
            }
            out.back().dueSeconds = through;
            out.back().bytes.push_back(c.bytes[i]);
        }
        if (!out.empty() && out.size() > first)
            out.back().hangUp = c.hangUp;
    }
    return out;
}

std::vector<Chunk> Responder::answer(const std::uint8_t* request, double now,
                                     std::optional<std::uint16_t> transaction) {
    const int address = request[0];
    const auto meter = meters_.find(address);
    if (options_.verbose)
        logBytes(transaction ? "Modbus TCP request, as RTU" : "request", std::span(request, 8));
    if (meter == meters_.end() || silenced_.contains(address))
        return {};
    const unsigned first = request[2] << 8 | request[3];
    const unsigned count = request[4] << 8 | request[5];
    const auto f = options_.faults.find(address);
    const Fault fault = f == options_.faults.end() ? Fault{} : f->second;

    const std::uint8_t function = request[1];
    const auto profile = options_.profiles.find(address);
    const bool byProfile = profile != options_.profiles.end();
    if (!byProfile && function != 0x03)
        return {};
    const auto answerAs =
        static_cast<std::uint8_t>(fault.kind == Fault::Address ? fault.address : address);
    Bytes bytes;
    if (byProfile) {
        bytes =
            profileAnswer(*profile->second, meter->second, answerAs, function, first, count, now);
    } else if (first == kFirstRegister && count == kRegisterCount) {
        const auto fixed = buildAnswer(answerAs, meter->second.registersAt(now));
        bytes.assign(fixed.begin(), fixed.end());
    }
    if (bytes.empty()) {
        bytes = exceptionAnswer(static_cast<std::uint8_t>(address), function, 0x02);
    } else {
        switch (fault.kind) {
        case Fault::Silent:
            return {};
        case Fault::BadCrc:
            bytes.back() ^= 0x5A;
            break;
        case Fault::CorruptEvery:
            if (++answered_[address] % static_cast<unsigned>(fault.every) == 0)
                bytes.back() ^= 0x5A;
            break;
        case Fault::Short:
            bytes.resize(std::min<std::size_t>(100, bytes.size() - 1));
            break;
        case Fault::Trailing:
            bytes.push_back(0x00);
            break;
        case Fault::Exception:
            bytes = exceptionAnswer(static_cast<std::uint8_t>(address), function, 0x04);
            break;
        default:
            break;
        }
    }
    if (transaction) {
        // Modbus TCP has no CRC: a corrupt answer is one for another transaction.
        const bool corrupt = fault.kind == Fault::BadCrc;
        bytes = inModbusTcp(corrupt ? static_cast<std::uint16_t>(*transaction + 1) : *transaction,
                            bytes);
    }
    if (options_.verbose)
        logBytes("answer", bytes);

    std::vector<Chunk> out;
    switch (fault.kind) {
    case Fault::Delay:
        out.push_back({now + fault.delayMs / 1000.0, bytes});
        break;
    case Fault::HangUp:
        bytes.resize(bytes.size() / 2);
        out.push_back({now, bytes, true});
        break;
    case Fault::Pieces: {
        const std::size_t n = static_cast<std::size_t>(fault.pieces);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t from = bytes.size() * i / n, to = bytes.size() * (i + 1) / n;
            if (from < to)
                out.push_back({now + i * fault.gapMs / 1000.0,
                               Bytes(bytes.begin() + from, bytes.begin() + to)});
        }
        break;
    }
    default:
        out.push_back({now, bytes});
    }
    return options_.pace ? paced(out) : out;
}

} // namespace mirv::sim
