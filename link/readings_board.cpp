#include "readings_board.h"

namespace mirv {

void ReadingsBoard::setRow(int n, const BoardRow& row) {
    rows_.at(n - 1) = row;
    if (rowChanged)
        rowChanged(n);
}

void ReadingsBoard::clearRow(int n) {
    for (auto& cell : rows_.at(n - 1))
        cell.clear();
    if (rowChanged)
        rowChanged(n);
}

} // namespace mirv
