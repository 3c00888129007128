#include "trend_chart.h"

#include "time_ticks.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace mirv {

namespace {

constexpr double kHoverReachPixels = 8;
constexpr double kPixelsPerTimeLabel = 90;
constexpr double kPixelsPerValueTick = 30;
// Labels of a category axis must differ; the same time of day on two days is told apart by
// zero-width spaces.
constexpr QChar kZeroWidthSpace(0x200B);

// The lowest and highest value drawn, with a little room above and below.
std::pair<double, double> valueRange(const std::vector<TrendLinesItem::Line>& lines) {
    double low = INFINITY, high = -INFINITY;
    for (const auto& line : lines)
        for (const TrendRun& run : line.runs)
            for (const TrendPoint& p : run) {
                low = std::min(low, p.value);
                high = std::max(high, p.value);
            }
    if (low > high)
        return {0, 1};
    const double room = high > low ? (high - low) * 0.05 : std::max(1.0, std::fabs(high) * 0.01);
    return {low - room, high + room};
}

// A value axis from a round number to a round number in steps of 1, 2 or 5 times a power of
// ten, with at most maxTicks ticks.
void placeValueTicks(QValueAxis* axis, double low, double high, int maxTicks) {
    const double rough = (high - low) / std::max(1, maxTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10;
    for (const double factor : {1.0, 2.0, 5.0})
        if (power * factor >= rough) {
            step = power * factor;
            break;
        }
    const double from = std::floor(low / step) * step, to = std::ceil(high / step) * step;
    axis->setRange(from, to);
    axis->setTickCount(static_cast<int>(std::lround((to - from) / step)) + 1);
}

} // namespace

// The chart goes in through the constructor: setChart() would leave the view's own default
// chart to the caller.
TrendChart::TrendChart(QWidget* parent) : QChartView(new QChart, parent) {
    QChart* c = chart();
    c->setMargins(QMargins(4, 4, 4, 4));
    c->setBackgroundRoundness(0);
    // The plot gets the height: a small title, and the legend (two lines only) at the side.
    QFont titleFont = c->titleFont();
    titleFont.setPointSize(9);
    c->setTitleFont(titleFont);
    c->legend()->setAlignment(Qt::AlignRight);
    timeAxis_ = new QCategoryAxis;
    timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    valueAxis_ = new QValueAxis;
    valueAxis_->setLabelFormat(QStringLiteral("%.10g"));
    c->addAxis(timeAxis_, Qt::AlignBottom);
    c->addAxis(valueAxis_, Qt::AlignLeft);
    lines_ = new TrendLinesItem(c);
    lines_->setZValue(10); // above the grid, below the legend
    setRenderHint(QPainter::Antialiasing);
    // Replacing the time axis's labels left old ones on the screen with the minimal update.
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setRubberBand(QChartView::HorizontalRubberBand);
    setMouseTracking(true);
    connect(timeAxis_, &QValueAxis::rangeChanged, this, [this] { redraw(); });
    connect(c, &QChart::plotAreaChanged, this, [this] { redraw(); });
    clearTrend();
}

void TrendChart::showTrend(std::shared_ptr<const TrendData> trend, const TrendQuantity& quantity,
                           const QString& meter, std::int64_t fromMs, std::int64_t toMs) {
    for (QLineSeries* s : legendSeries_) {
        chart()->removeSeries(s);
        delete s;
    }
    legendSeries_.clear();
    data_ = std::move(trend);
    detail_.reset();
    quantity_ = &quantity;
    fromMs_ = fromMs;
    toMs_ = std::max(toMs, fromMs + 1);
    // Empty series carry the legend entries and their colours and tie the axes to the zoom;
    // the records themselves are drawn by the lines item.
    for (int l = 0; l < quantity.lineCount; ++l) {
        auto* s = new QLineSeries;
        s->setName(QString::fromUtf8(quantity.lines[l].caption));
        chart()->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(valueAxis_);
        legendSeries_.push_back(s);
    }
    chart()->legend()->setVisible(quantity.lineCount > 1);
    chart()->setTitle(
        QStringLiteral("仪表 %1  %2").arg(meter, QString::fromUtf8(quantity.caption)));
    valueAxis_->setTitleText(QString::fromUtf8(quantity.unit));
    resetZoom();
}

void TrendChart::showDetail(std::shared_ptr<const TrendData> detail, std::int64_t fromMs,
                            std::int64_t toMs) {
    if (!data_)
        return;
    detail_ = std::move(detail);
    detailFromMs_ = fromMs;
    detailToMs_ = toMs;
    redraw();
}

void TrendChart::clearTrend() {
    data_.reset();
    detail_.reset();
    hideHover();
    const QDateTime now = QDateTime::currentDateTime();
    fromMs_ = now.addDays(-1).toMSecsSinceEpoch();
    toMs_ = now.toMSecsSinceEpoch();
    chart()->setTitle(QString());
    resetZoom();
}

void TrendChart::resetZoom() {
    chart()->zoomReset();
    timeAxis_->setRange(static_cast<double>(fromMs_), static_cast<double>(toMs_));
    redraw(); // the range may be the same as before, which signals nothing
}

std::pair<std::int64_t, std::int64_t> TrendChart::visibleRange() const {
    return {std::llround(timeAxis_->min()), std::llround(timeAxis_->max())};
}

QStringList TrendChart::timeLabels() const {
    QStringList labels = timeAxis_->categoriesLabels();
    for (QString& l : labels)
        l.remove(kZeroWidthSpace);
    return labels;
}

void TrendChart::placeTimeTicks(std::int64_t fromMs, std::int64_t toMs, double width) {
    for (const QString& label : timeAxis_->categoriesLabels())
        timeAxis_->remove(label);
    timeAxis_->setStartValue(static_cast<double>(fromMs));
    QStringList used;
    for (const TimeTick& tick :
         timeTicks(fromMs, toMs, std::max(2, static_cast<int>(width / kPixelsPerTimeLabel)))) {
        QString label = tick.label;
        while (used.contains(label))
            label += kZeroWidthSpace;
        used << label;
        timeAxis_->append(label, static_cast<double>(tick.ms));
    }
}

void TrendChart::redraw() {
    if (redrawing_)
        return;
    redrawing_ = true;
    const auto [from, to] = visibleRange();
    const QRectF area = chart()->plotArea();
    placeTimeTicks(from, to, area.width());
    std::vector<TrendLinesItem::Line> lines;
    const int buckets = std::max(1, static_cast<int>(std::ceil(area.width())));
    shown_ = detail_ && from >= detailFromMs_ && to <= detailToMs_ ? detail_.get() : data_.get();
    if (shown_) {
        // The gap threshold of the whole range, so that the line breaks alike at any zoom.
        for (std::size_t l = 0; l < shown_->lines.size(); ++l)
            lines.push_back({legendSeries_[l]->pen().color(),
                             reduceTrend(shown_->timesMs, shown_->lines[l], data_->gapMs, from, to,
                                         buckets, shown_->joined, shown_->snapMs)});
    }
    const auto [low, high] = valueRange(lines);
    placeValueTicks(valueAxis_, low, high,
                    std::clamp(static_cast<int>(area.height() / kPixelsPerValueTick), 3, 9));
    lines_->setPlotArea(area);
    lines_->setLines(std::move(lines), {static_cast<double>(from), static_cast<double>(to),
                                        valueAxis_->min(), valueAxis_->max()});
    redrawing_ = false;
    emit redrawn();
    if (shown_ && shown_->snapMs > 0 && (to - from) / shown_->snapMs < buckets &&
        (from > fromMs_ || to < toMs_)) {
        const std::int64_t room = (to - from) / 2;
        emit detailWanted(std::max(fromMs_, from - room), std::min(toMs_, to + room));
    }
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    QChartView::mouseMoveEvent(event);
    showHover(chart()->mapFromScene(mapToScene(event->position().toPoint())),
              event->globalPosition().toPoint());
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        resetZoom();
    event->accept();
}

void TrendChart::leaveEvent(QEvent* event) {
    hideHover();
    QChartView::leaveEvent(event);
}

void TrendChart::showHover(const QPointF& at, const QPoint& globalPosition) {
    const QRectF area = chart()->plotArea();
    const TrendData* shown = shown_;
    if (!shown || shown->timesMs.empty() || !area.contains(at)) {
        hideHover();
        return;
    }
    const auto [from, to] = visibleRange();
    const double msPerPixel = static_cast<double>(to - from) / area.width();
    const auto t = static_cast<std::int64_t>(from + (at.x() - area.left()) * msPerPixel);
    const auto& times = shown->timesMs;
    // Where hours were summed up, a record may be known on one line only: the nearest record
    // known on every line is shown.
    auto known = [&](std::size_t i) {
        if (shown->joined.empty() || !shown->joined[i])
            return true;
        return std::none_of(shown->lines.begin(), shown->lines.end(),
                            [&](const std::vector<double>& line) { return std::isnan(line[i]); });
    };
    auto after = std::lower_bound(times.begin(), times.end(), t);
    while (after != times.end() && !known(static_cast<std::size_t>(after - times.begin())))
        ++after;
    auto before = std::lower_bound(times.begin(), times.end(), t);
    while (before != times.begin() && !known(static_cast<std::size_t>(before - 1 - times.begin())))
        --before;
    if (after == times.end() && before == times.begin()) {
        hideHover();
        return;
    }
    auto next = after;
    if (next == times.end() || (before != times.begin() && t - *(before - 1) < *next - t))
        next = before - 1;
    if (std::abs(static_cast<double>(*next - t)) > kHoverReachPixels * msPerPixel) {
        hideHover();
        return;
    }
    const auto i = static_cast<std::size_t>(next - times.begin());
    QString text =
        QDateTime::fromMSecsSinceEpoch(*next).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString unit = quantity_->unit.empty()
                             ? QString()
                             : QStringLiteral(" ") + QString::fromUtf8(quantity_->unit);
    std::vector<double> values;
    for (std::size_t l = 0; l < shown->lines.size(); ++l) {
        const double v = shown->lines[l][i];
        values.push_back(v);
        text += QStringLiteral("\n%1: %2")
                    .arg(QString::fromUtf8(quantity_->lines[l].caption),
                         std::isnan(v) ? QStringLiteral("空")
                                       : QString::number(v, 'f', quantity_->decimals) + unit);
    }
    hoverText_ = text;
    lines_->setMarker(std::pair{*next, std::move(values)});
    QToolTip::showText(globalPosition, text, this);
}

void TrendChart::hideHover() {
    hoverText_.clear();
    lines_->setMarker(std::nullopt);
    QToolTip::hideText();
}

} // namespace mirv
