#pragma once

#include "readings_board.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirv {

// One request a meter answers: function 03 or 04 from `first`, `count` registers (1..125).
struct RegisterRead {
    std::uint8_t function = 0x03;
    std::uint16_t first = 0;
    std::uint16_t count = 0;
};

// How a number lies in its registers. Pair is the integer-plus-fraction total: a uint32 at the
// offset, a float32 fraction at `fractionOffset` and, when given, a uint32 counting 10^9 at
// `billionsOffset`.
enum class ValueType { Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64, Pair };

// The order of a value's bytes (A the most significant) on the wire: ABCD big-endian, CDAB
// registers swapped, BADC bytes swapped within each register, DCBA both.
struct ByteOrder {
    bool wordsSwapped = false;
    bool bytesSwapped = false;
};

// A factor num/den from the meter's unit to the board's.
struct UnitFactor {
    std::int64_t num = 1;
    std::int64_t den = 1;
    bool isOne() const { return num == den; }
};

// Where one of the board's quantities comes from and how it is shown.
struct ValueSource {
    int read = 0;   // index into the profile's reads
    int offset = 0; // registers from the read's first
    ValueType type = ValueType::Float32;
    ByteOrder order;
    int scale = 0; // the raw value times 10^scale
    UnitFactor factor;
    int decimals = 2;
    // Shown only when min <= value < below (board units).
    std::optional<double> min;
    std::optional<double> below;
    int fractionOffset = 0;
    std::optional<int> billionsOffset;
};

// One alarm: a register's bit set, or the register equal to `value`.
struct AlarmFlag {
    int read = 0;
    int offset = 0;
    std::optional<int> bit;
    std::uint16_t value = 1;
    std::string text;
};

// What the station reads from one kind of meter and how its answers become a board row. The
// status cell's slot of `values` is unused: the alarms make that text.
struct MeterProfile {
    std::string name;
    std::vector<RegisterRead> reads;
    std::array<std::optional<ValueSource>, kCells> values;
    std::vector<AlarmFlag> alarms;
};

} // namespace mirv
