#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace mirv {

// What a frame on the line was.
enum class FrameVerdict : std::uint8_t {
    Request,     // out: the station's request
    Answer,      // the polled meter's answer
    CrcWrong,    // an answer whose CRC is wrong
    LengthWrong, // too short, too long or with bytes after it
    Foreign,     // not from the polled meter, or no answer at all
    Late,        // the previous meter's answer, after the next request
    Exception,   // an exception answer (function with 0x80)
};

struct MonitorFrame {
    static constexpr std::size_t kKeptBytes = 256;

    std::int64_t wallUs = 0;
    std::uint32_t length = 0; // bytes the frame had; at most kKeptBytes are kept
    std::uint8_t meter = 0;   // the meter polled when it went out or came in
    FrameVerdict verdict = FrameVerdict::Request;
    bool out = false;
    std::array<std::uint8_t, kKeptBytes> bytes{};

    std::span<const std::uint8_t> kept() const {
        return {bytes.data(), length < kKeptBytes ? length : kKeptBytes};
    }
};

// The monitor's last frames, out and in, in a ring allocated once.
class FrameRing {
  public:
    static constexpr std::size_t kCapacity = 2000;

    FrameRing() : frames_(kCapacity) {}

    MonitorFrame& push() {
        MonitorFrame& f = frames_[next_];
        next_ = (next_ + 1) % kCapacity;
        ++pushed_;
        return f;
    }
    std::size_t size() const { return pushed_ < kCapacity ? pushed_ : kCapacity; }
    // Oldest first.
    const MonitorFrame& at(std::size_t i) const {
        return frames_[(pushed_ < kCapacity ? i : next_ + i) % kCapacity];
    }
    // Frames pushed since the start, also those the ring no longer holds.
    std::uint64_t pushed() const { return pushed_; }
    std::size_t bytes() const { return frames_.capacity() * sizeof(MonitorFrame); }

  private:
    std::vector<MonitorFrame> frames_;
    std::size_t next_ = 0;
    std::uint64_t pushed_ = 0;
};

} // namespace mirv
