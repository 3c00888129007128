#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace mirv {

constexpr int kMeters = 20;
constexpr int kCells = 11;

// Cell indices of a board row; the status (7) is shown rightmost.
enum Cell : int {
    FlowRateCell = 0,
    FlowSpeedCell = 1,
    InletTempCell = 2,
    OutletTempCell = 3,
    ForwardTotalCell = 4,
    ReverseTotalCell = 5,
    HeatPowerCell = 6,
    StatusCell = 7,
    ColdPowerCell = 8,
    HeatTotalCell = 9,
    ColdTotalCell = 10,
};

using BoardRow = std::array<std::string, kCells>;

// The 20 x 11 texts of the readings board and the per-meter answered flags. Meters are
// numbered 1..20; the window shows the rows, the logger copies them.
class ReadingsBoard {
  public:
    static bool isMeter(int n) { return n >= 1 && n <= kMeters; }

    const BoardRow& row(int n) const { return rows_.at(n - 1); }
    // Whether the meter's last poll was answered and its row holds that answer.
    bool answered(int n) const { return answered_.at(n - 1); }

    void setRow(int n, const BoardRow& row);
    void clearRow(int n);
    void setAnswered(int n, bool value) { answered_.at(n - 1) = value; }

    // Called after a row's texts changed, with the meter number.
    std::function<void(int)> rowChanged;

  private:
    std::array<BoardRow, kMeters> rows_{};
    std::array<bool, kMeters> answered_{};
};

} // namespace mirv
