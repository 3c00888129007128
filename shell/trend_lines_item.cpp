#include "trend_lines_item.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace mirv {

void TrendLinesItem::setLines(std::vector<Line> lines, const Window& window) {
    lines_ = std::move(lines);
    window_ = window;
    update();
}

void TrendLinesItem::setPlotArea(const QRectF& area) {
    prepareGeometryChange();
    area_ = area;
}

void TrendLinesItem::setMarker(std::optional<std::pair<std::int64_t, std::vector<double>>> marker) {
    marker_ = std::move(marker);
    update();
}

QPointF TrendLinesItem::position(std::int64_t timeMs, double value) const {
    const double x =
        (static_cast<double>(timeMs) - window_.fromMs) / (window_.toMs - window_.fromMs);
    const double y = (value - window_.low) / (window_.high - window_.low);
    return {area_.left() + x * area_.width(), area_.bottom() - y * area_.height()};
}

void TrendLinesItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (window_.toMs <= window_.fromMs || window_.high <= window_.low)
        return;
    painter->save();
    painter->setClipRect(area_);
    painter->setRenderHint(QPainter::Antialiasing, true);
    for (const Line& line : lines_) {
        QPainterPath path;
        QPainterPath dots; // runs of one record have no length to stroke
        for (const TrendRun& run : line.runs) {
            if (run.size() == 1) {
                dots.addEllipse(position(run[0].timeMs, run[0].value), 1.5, 1.5);
                continue;
            }
            path.moveTo(position(run[0].timeMs, run[0].value));
            for (std::size_t i = 1; i < run.size(); ++i)
                path.lineTo(position(run[i].timeMs, run[i].value));
        }
        painter->setPen(QPen(line.color, 1.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(path);
        painter->setPen(Qt::NoPen);
        painter->setBrush(line.color);
        painter->drawPath(dots);
    }
    if (marker_) {
        painter->setPen(QPen(Qt::gray, 1, Qt::DashLine));
        const double x = position(marker_->first, window_.low).x();
        painter->drawLine(QPointF(x, area_.top()), QPointF(x, area_.bottom()));
        for (std::size_t l = 0; l < lines_.size() && l < marker_->second.size(); ++l) {
            if (std::isnan(marker_->second[l]))
                continue;
            painter->setPen(QPen(lines_[l].color, 2));
            painter->setBrush(Qt::white);
            painter->drawEllipse(position(marker_->first, marker_->second[l]), 3.5, 3.5);
        }
    }
    painter->restore();
}

} // namespace mirv
