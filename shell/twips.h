#pragma once

#include <QRect>
#include <QWidget>
#include <cmath>

namespace mirv {

// Positions and sizes are laid out in twips, 15 to a logical pixel, so the window scales with
// the screen's device pixel ratio like any Qt layout.
constexpr int px(int twips) {
    return static_cast<int>(twips / 15.0 + 0.5);
}

inline void placeTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

} // namespace mirv
