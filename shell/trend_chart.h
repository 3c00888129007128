#pragma once

#include "trend_data.h"
#include "trend_lines_item.h"
#include "trend_quantity.h"

#include <QChartView>
#include <memory>

class QCategoryAxis;
class QLineSeries;
class QValueAxis;

namespace mirv {

// One meter's trend of one quantity over a time range. Each redraw reduces the visible part of
// the records to the plot's pixel columns; a rubber band zooms into a time span, a double-click
// or resetZoom() shows the whole range again, and hovering shows the nearest record's time
// and values. Where the trend came from hourly summaries and the view holds fewer hours than
// the plot has pixels, it asks for that span's records (detailWanted) and draws them once given.
class TrendChart : public QChartView {
    Q_OBJECT
  public:
    explicit TrendChart(QWidget* parent = nullptr);

    // Replaces what is shown; fromMs..toMs is the whole range, in ms since the epoch.
    void showTrend(std::shared_ptr<const TrendData> trend, const TrendQuantity& quantity,
                   const QString& meter, std::int64_t fromMs, std::int64_t toMs);
    void resetZoom();
    bool hasTrend() const { return data_ != nullptr; }
    // Every record between fromMs and toMs (a span detailWanted asked for), drawn in place of
    // the summaries while the view lies within it.
    void showDetail(std::shared_ptr<const TrendData> detail, std::int64_t fromMs,
                    std::int64_t toMs);

    // The visible time range in ms since the epoch.
    std::pair<std::int64_t, std::int64_t> visibleRange() const;
    const std::vector<TrendLinesItem::Line>& shownLines() const { return lines_->lines(); }
    const QString& hoverText() const { return hoverText_; }
    // The time axis's labels, left to right.
    QStringList timeLabels() const;

  signals:
    // The lines were reduced and laid out again for the visible range.
    void redrawn();
    // The view shows summed-up hours more coarsely than its pixels could: the records between
    // fromMs and toMs (the view and some room round it) would do better.
    void detailWanted(std::int64_t fromMs, std::int64_t toMs);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void clearTrend();
    void redraw();
    void placeTimeTicks(std::int64_t fromMs, std::int64_t toMs, double width);
    void showHover(const QPointF& chartPosition, const QPoint& globalPosition);
    void hideHover();

    QCategoryAxis* timeAxis_;
    QValueAxis* valueAxis_;
    std::vector<QLineSeries*> legendSeries_;
    TrendLinesItem* lines_;
    std::shared_ptr<const TrendData> data_;
    std::shared_ptr<const TrendData> detail_;
    std::int64_t detailFromMs_ = 0, detailToMs_ = 0;
    const TrendData* shown_ = nullptr; // what the last redraw drew: data_ or detail_
    const TrendQuantity* quantity_ = nullptr;
    std::int64_t fromMs_ = 0, toMs_ = 0;
    QString hoverText_;
    bool redrawing_ = false;
};

} // namespace mirv
