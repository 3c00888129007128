#pragma once

#include "trend_reduction.h"

#include <QColor>
#include <QGraphicsItem>
#include <optional>
#include <vector>

namespace mirv {

// Draws a trend's lines on the chart's plot area, each run of points as its own stroke so that
// gaps and empty cells stay open: Qt Charts' line series join every point they hold.
class TrendLinesItem : public QGraphicsItem {
  public:
    struct Line {
        QColor color;
        std::vector<TrendRun> runs;
    };
    // The visible window in data units: times in ms since the epoch, values.
    struct Window {
        double fromMs = 0, toMs = 1, low = 0, high = 1;
    };

    using QGraphicsItem::QGraphicsItem;

    void setLines(std::vector<Line> lines, const Window& window);
    void setPlotArea(const QRectF& area);
    // A record to mark, as times and values per line; nothing to mark none.
    void setMarker(std::optional<std::pair<std::int64_t, std::vector<double>>> marker);

    const std::vector<Line>& lines() const { return lines_; }

    QRectF boundingRect() const override { return area_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

  private:
    QPointF position(std::int64_t timeMs, double value) const;

    std::vector<Line> lines_;
    Window window_;
    QRectF area_;
    std::optional<std::pair<std::int64_t, std::vector<double>>> marker_;
};

} // namespace mirv
