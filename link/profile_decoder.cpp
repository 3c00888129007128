#include "profile_decoder.h"

#include "number_format.h"

#include <bit>
#include <cmath>
#include <optional>

namespace mirv {

namespace {

constexpr Fixed kBillion = 1000000000;

// The value's bits from `registers` registers at `at`, put in big-endian order.
std::uint64_t bitsAt(const std::uint8_t* at, int registers, ByteOrder order) {
    std::uint64_t v = 0;
    for (int i = 0; i < registers; ++i) {
        const std::uint8_t* r = at + 2 * (order.wordsSwapped ? registers - 1 - i : i);
        const unsigned word = order.bytesSwapped ? r[1] << 8 | r[0] : r[0] << 8 | r[1];
        v = v << 16 | word;
    }
    return v;
}

// The registers of a value, or nothing when its read did not bring them.
const std::uint8_t* registersAt(std::span<const ReadData> reads, int read, int offset, int count) {
    if (read < 0 || static_cast<std::size_t>(read) >= reads.size() || offset < 0)
        return nullptr;
    const ReadData& data = reads[static_cast<std::size_t>(read)];
    if (2 * static_cast<std::size_t>(offset + count) > data.size())
        return nullptr;
    return data.data() + 2 * offset;
}

bool inRange(const ValueSource& s, double v) {
    return (!s.min || v >= *s.min) && (!s.below || v < *s.below);
}

double powerOfTen(int exponent) {
    static constexpr double kPowers[] = {1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1,
                                         1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8};
    return exponent >= -8 && exponent <= 8 ? kPowers[exponent + 8] : std::pow(10.0, exponent);
}

// A binary value in the board's unit.
std::string shownBinary(const ValueSource& s, double raw) {
    const double v = raw * powerOfTen(s.scale) * static_cast<double>(s.factor.num) /
                     static_cast<double>(s.factor.den);
    return inRange(s, v) ? formatDecimal(v, s.decimals) : std::string();
}

// mantissa x 10^exp10 in the meter's unit, shown exactly in the board's.
std::string shownExact(const ValueSource& s, Fixed mantissa, int exp10) {
    const auto approx = [&] {
        return static_cast<double>(mantissa) * powerOfTen(exp10) *
               static_cast<double>(s.factor.num) / static_cast<double>(s.factor.den);
    };
    if ((s.min || s.below) && !inRange(s, approx()))
        return {};
    if (auto text = formatExact(mantissa, exp10, s.factor.num, s.factor.den, s.decimals))
        return *text;
    return formatDecimal(approx(), s.decimals);
}

std::string shownValue(const ValueSource& s, std::span<const ReadData> reads) {
    const std::uint8_t* at = registersAt(reads, s.read, s.offset, registersOf(s.type));
    if (!at)
        return {};
    switch (s.type) {
    case ValueType::Float32: {
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(bitsAt(at, 2, s.order)));
        if (s.scale == 0 && s.factor.isOne())
            return inRange(s, f) ? formatDecimal(f, s.decimals) : std::string();
        return shownBinary(s, f);
    }
    case ValueType::Float64: {
        const double d = std::bit_cast<double>(bitsAt(at, 4, s.order));
        if (s.scale == 0 && s.factor.isOne())
            return inRange(s, d) ? formatDecimal(d, s.decimals) : std::string();
        return shownBinary(s, d);
    }
    case ValueType::Int16:
        return shownExact(s, static_cast<std::int16_t>(bitsAt(at, 1, s.order)), s.scale);
    case ValueType::UInt16:
        return shownExact(s, static_cast<std::uint16_t>(bitsAt(at, 1, s.order)), s.scale);
    case ValueType::Int32:
        return shownExact(s, static_cast<std::int32_t>(bitsAt(at, 2, s.order)), s.scale);
    case ValueType::UInt32:
        return shownExact(s, static_cast<std::uint32_t>(bitsAt(at, 2, s.order)), s.scale);
    case ValueType::Int64:
        return shownExact(s, static_cast<std::int64_t>(bitsAt(at, 4, s.order)), s.scale);
    case ValueType::UInt64:
        return shownExact(s, bitsAt(at, 4, s.order), s.scale);
    case ValueType::Pair: {
        const std::uint8_t* fraction = registersAt(reads, s.read, s.fractionOffset, 2);
        const std::uint8_t* billions =
            s.billionsOffset ? registersAt(reads, s.read, *s.billionsOffset, 2) : nullptr;
        if (!fraction || (s.billionsOffset && !billions))
            return {};
        Fixed whole = bitsAt(at, 2, s.order);
        if (billions)
            whole += Fixed{bitsAt(billions, 2, s.order)} * kBillion;
        const auto total = pairTotal(
            whole, std::bit_cast<float>(static_cast<std::uint32_t>(bitsAt(fraction, 2, s.order))));
        return total ? shownExact(s, *total, s.scale - 4) : std::string();
    }
    }
    return {};
}

bool isSet(const AlarmFlag& flag, std::span<const ReadData> reads) {
    const std::uint8_t* at = registersAt(reads, flag.read, flag.offset, 1);
    if (!at)
        return false;
    const unsigned word = at[0] << 8 | at[1];
    return flag.bit ? (word >> *flag.bit & 1) != 0 : word == flag.value;
}

} // namespace

int registersOf(ValueType type) {
    switch (type) {
    case ValueType::Int16:
    case ValueType::UInt16:
        return 1;
    case ValueType::Int64:
    case ValueType::UInt64:
    case ValueType::Float64:
        return 4;
    default:
        return 2;
    }
}

BoardRow decodeWithProfile(const MeterProfile& profile, std::span<const ReadData> reads) {
    BoardRow row;
    for (int cell = 0; cell < kCells; ++cell)
        if (cell != StatusCell && profile.values[cell])
            row[cell] = shownValue(*profile.values[cell], reads);
    std::string status = "通讯正常";
    for (const AlarmFlag& flag : profile.alarms)
        if (isSet(flag, reads))
            status += "," + flag.text;
    row[StatusCell] = std::move(status);
    return row;
}

} // namespace mirv
