#include "window_icon.h"

#include <QPainter>
#include <QPixmap>

namespace mirv {

namespace {

QPixmap drawIcon(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // The pipe.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 64, 160));
    p.drawRect(2, 12, 28, 12);
    p.setBrush(QColor(0, 128, 255));
    p.drawRect(2, 14, 28, 8);
    // The flow arrow.
    p.setBrush(Qt::white);
    const QPoint arrow[] = {{6, 16}, {16, 16}, {16, 13}, {23, 18}, {16, 23}, {16, 20}, {6, 20}};
    p.drawPolygon(arrow, 7);
    // The thermometer: red for heat.
    p.setBrush(QColor(200, 0, 0));
    p.drawRoundedRect(24, 1, 5, 14, 2, 2);
    p.drawEllipse(QPointF(26.5, 14), 4, 4);
    return pm;
}

} // namespace

QIcon stationIcon() {
    QIcon icon;
    icon.addPixmap(drawIcon(32));
    icon.addPixmap(drawIcon(16));
    return icon;
}

} // namespace mirv
