#include "responder.h"

#include "crc16.h"
#include "read_answer.h"

#include <algorithm>
#include <cstdio>

namespace mirv::sim {

namespace {

std::vector<std::uint8_t> exceptionAnswer(std::uint8_t address, std::uint8_t code) {
    std::vector<std::uint8_t> a{address, 0x83, code};
    const auto crc = crc16(a);
    a.push_back(crc[1]);
    a.push_back(crc[0]);
    return a;
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

std::vector<Chunk> Responder::feed(std::span<const std::uint8_t> received, double now) {
    pending_.insert(pending_.end(), received.begin(), received.end());
    std::vector<Chunk> out;
    std::size_t start = 0;
    while (pending_.size() - start >= 8) {
        const std::uint8_t* frame = pending_.data() + start;
        const auto crc = crc16(std::span(frame, 6));
        if (frame[1] == 0x03 && frame[6] == crc[1] && frame[7] == crc[0]) {
            auto chunks = answer(frame, now);
            out.insert(out.end(), chunks.begin(), chunks.end());
            start += 8;
        } else {
            ++start; // line noise: resynchronise byte by byte
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    return out;
}

std::vector<Chunk> Responder::answer(const std::uint8_t* request, double now) {
    std::vector<Chunk> chunks = misbehave(request, now);
    return options_.pace ? paced(chunks) : chunks;
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
    }
    return out;
}

std::vector<Chunk> Responder::misbehave(const std::uint8_t* request, double now) {
    const int address = request[0];
    const auto meter = meters_.find(address);
    if (options_.verbose)
        logBytes("request", std::span(request, 8));
    if (meter == meters_.end())
        return {};
    const unsigned first = request[2] << 8 | request[3];
    const unsigned count = request[4] << 8 | request[5];
    if (first != kFirstRegister || count != kRegisterCount)
        return {{now, exceptionAnswer(static_cast<std::uint8_t>(address), 0x02)}};

    const auto answerBytes =
        buildAnswer(static_cast<std::uint8_t>(address), meter->second.registersAt(now));
    std::vector<std::uint8_t> bytes(answerBytes.begin(), answerBytes.end());
    const auto f = options_.faults.find(address);
    const Fault fault = f == options_.faults.end() ? Fault{} : f->second;
    std::vector<Chunk> out;
    switch (fault.kind) {
    case Fault::Silent:
        return {};
    case Fault::BadCrc:
        bytes.back() ^= 0x5A;
        break;
    case Fault::Short:
        bytes.resize(100);
        break;
    case Fault::Trailing:
        bytes.push_back(0x00);
        break;
    case Fault::Exception:
        bytes = exceptionAnswer(static_cast<std::uint8_t>(address), 0x04);
        break;
    case Fault::Delay:
        out.push_back({now + fault.delayMs / 1000.0, bytes});
        return out;
    case Fault::Pieces: {
        const std::size_t n = static_cast<std::size_t>(fault.pieces);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t from = bytes.size() * i / n, to = bytes.size() * (i + 1) / n;
            if (from < to)
                out.push_back(
                    {now + i * fault.gapMs / 1000.0,
                     std::vector<std::uint8_t>(bytes.begin() + from, bytes.begin() + to)});
        }
        return out;
    }
    case Fault::None:
        break;
    }
    if (options_.verbose)
        logBytes("answer", bytes);
    out.push_back({now, bytes});
    return out;
}

} // namespace mirv::sim
