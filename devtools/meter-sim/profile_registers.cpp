#include "profile_registers.h"

#include "profile_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace mirv::sim {

namespace {

using Registers = std::vector<std::vector<std::uint8_t>>;

// `bits` (big-endian, `count` registers) put at `offset` in the value's order.
void put(std::vector<std::uint8_t>& read, int offset, int count, std::uint64_t bits,
         ByteOrder order) {
    for (int i = 0; i < count; ++i) {
        const auto word = static_cast<std::uint16_t>(bits >> (16 * (count - 1 - i)));
        const int at = offset + (order.wordsSwapped ? count - 1 - i : i);
        std::uint8_t hi = word >> 8, lo = word & 0xFF;
        if (order.bytesSwapped)
            std::swap(hi, lo);
        if (2 * static_cast<std::size_t>(at) + 1 < read.size()) {
            read[2 * at] = hi;
            read[2 * at + 1] = lo;
        }
    }
}

template <typename T> std::uint64_t whole(double v) {
    const double lo = static_cast<double>(std::numeric_limits<T>::min());
    const double hi = static_cast<double>(std::numeric_limits<T>::max());
    const double r = std::isfinite(v) ? std::clamp(std::round(v), lo, hi) : 0;
    return static_cast<std::uint64_t>(static_cast<T>(r));
}

// The board's value of each cell the simulated meter has.
std::array<double, kCells> boardValues(const RegisterMap& m) {
    std::array<double, kCells> v{};
    v[FlowRateCell] = m.flowRate;
    v[FlowSpeedCell] = m.flowSpeed;
    v[InletTempCell] = m.inletTemp;
    v[OutletTempCell] = m.outletTemp;
    v[ForwardTotalCell] = m.forwardInt + static_cast<double>(m.forwardFrac);
    v[ReverseTotalCell] = m.reverseInt + static_cast<double>(m.reverseFrac);
    v[HeatPowerCell] = m.heatPower;
    v[ColdPowerCell] = m.coldPower;
    v[HeatTotalCell] =
        m.heatTotalHigh * 1e9 + m.heatTotalLow + static_cast<double>(m.heatTotalFrac);
    v[ColdTotalCell] =
        m.coldTotalHigh * 1e9 + m.coldTotalLow + static_cast<double>(m.coldTotalFrac);
    return v;
}

void write(Registers& regs, const ValueSource& s, double boardValue) {
    auto& read = regs[static_cast<std::size_t>(s.read)];
    const double raw = boardValue / std::pow(10.0, s.scale) * static_cast<double>(s.factor.den) /
                       static_cast<double>(s.factor.num);
    switch (s.type) {
    case ValueType::Float32:
        put(read, s.offset, 2, std::bit_cast<std::uint32_t>(static_cast<float>(raw)), s.order);
        break;
    case ValueType::Float64:
        put(read, s.offset, 4, std::bit_cast<std::uint64_t>(raw), s.order);
        break;
    case ValueType::Int16:
        put(read, s.offset, 1, whole<std::int16_t>(raw) & 0xFFFF, s.order);
        break;
    case ValueType::UInt16:
        put(read, s.offset, 1, whole<std::uint16_t>(raw), s.order);
        break;
    case ValueType::Int32:
        put(read, s.offset, 2, whole<std::int32_t>(raw) & 0xFFFFFFFF, s.order);
        break;
    case ValueType::UInt32:
        put(read, s.offset, 2, whole<std::uint32_t>(raw), s.order);
        break;
    case ValueType::Int64:
        put(read, s.offset, 4, whole<std::int64_t>(raw), s.order);
        break;
    case ValueType::UInt64:
        put(read, s.offset, 4, whole<std::uint64_t>(raw), s.order);
        break;
    case ValueType::Pair: {
        const double w = std::floor(std::max(raw, 0.0));
        double low = w;
        if (s.billionsOffset) {
            const double high = std::floor(w / 1e9);
            low = w - high * 1e9;
            put(read, *s.billionsOffset, 2, whole<std::uint32_t>(high), s.order);
        }
        put(read, s.offset, 2, whole<std::uint32_t>(std::fmod(low, 4294967296.0)), s.order);
        put(read, s.fractionOffset, 2,
            std::bit_cast<std::uint32_t>(static_cast<float>(std::max(raw, 0.0) - w)), s.order);
        break;
    }
    }
}

} // namespace

Registers profileRegisters(const MeterProfile& profile, const RegisterMap& m, unsigned alarms) {
    Registers regs;
    for (const RegisterRead& r : profile.reads)
        regs.emplace_back(2 * static_cast<std::size_t>(r.count), 0);
    const auto values = boardValues(m);
    for (int cell = 0; cell < kCells; ++cell)
        if (const auto& source = profile.values[cell])
            write(regs, *source, values[cell]);
    for (std::size_t i = 0; i < profile.alarms.size(); ++i) {
        const AlarmFlag& flag = profile.alarms[i];
        auto& read = regs[static_cast<std::size_t>(flag.read)];
        std::uint16_t word =
            static_cast<std::uint16_t>(read[2 * flag.offset] << 8 | read[2 * flag.offset + 1]);
        if (i < 32 && (alarms >> i & 1) != 0)
            word = flag.bit ? static_cast<std::uint16_t>(word | 1u << *flag.bit) : flag.value;
        read[2 * flag.offset] = word >> 8;
        read[2 * flag.offset + 1] = word & 0xFF;
    }
    return regs;
}

} // namespace mirv::sim
