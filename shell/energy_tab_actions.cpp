// The energy tab's buttons and the work they start.
#include "background_job.h"
#include "dialogs.h"
#include "energy_csv.h"
#include "energy_tab.h"
#include "energy_table.h"
#include "local_seconds.h"
#include "meter_plan_reader.h"
#include "saved_output.h"
#include "trend_chart.h"
#include "trend_data.h"

#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <memory>

namespace mirv {

namespace {
constexpr int kNarrowestPlot = 400;
} // namespace

QString EnergyTab::chooseSavePath(const QString& caption, const QString& name,
                                  const QString& filter, const QString& suffix) {
    QString path = askSavePath(caption, name + QStringLiteral(".") + suffix, filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".") + suffix;
    return path;
}

QueryCriteria EnergyTab::criteria() const {
    return {fieldNames_.meterOf(meterField->text().toStdString()),
            fromField->text().toStdString(),
            toField->text().toStdString(),
            {}};
}

void EnergyTab::say(const QString& text, bool failure) {
    statusLine->setStyleSheet(failure ? QStringLiteral("color: red") : QString());
    statusLine->setText(text);
}

std::optional<HistorySelection> EnergyTab::boundedSelection() {
    HistorySelection s = selectionFrom(criteria());
    if (s.from && s.to)
        return s;
    say(QStringLiteral("日期无效：请写成 2025-03-01 或 2025-03-01 08:00"), true);
    return std::nullopt;
}

void EnergyTab::setRunning(bool running) {
    computeButton->setEnabled(!running);
    trendButton->setEnabled(!running);
    csvButton->setEnabled(!running && energyTable->rowCount() > 0);
    pngButton->setEnabled(!running && chart->hasTrend());
    cancelButton->setEnabled(running);
    if (running)
        progressTimer_.start();
    else
        progressTimer_.stop();
}

void EnergyTab::startJob(const QString& status,
                         std::function<void(const ProgressCallback&, const std::atomic_bool&)> work,
                         std::function<void()> whenDone) {
    job_ = new BackgroundJob(std::move(work), this);
    connect(job_, &QThread::finished, this, [this, whenDone = std::move(whenDone)] {
        job_->deleteLater();
        job_ = nullptr;
        progressBar->setValue(progressBar->maximum());
        whenDone();
        setRunning(false);
        emit jobFinished();
    });
    progressBar->setValue(0);
    say(status);
    setRunning(true);
    job_->start();
}

void EnergyTab::onCancelClicked() {
    if (job_)
        job_->cancel();
}

void EnergyTab::onComputeClicked() {
    if (running())
        return;
    offerMeters(); // the names as they are now, for a label in the meter field
    const std::optional<HistorySelection> selection = boundedSelection();
    if (!selection)
        return;
    auto result = std::make_shared<EnergyUse>();
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    startJob(
        QStringLiteral("正在计算用量…"),
        [result, path = databasePath_.toStdString(),
         s = *selection](const ProgressCallback& onProgress, const std::atomic_bool& cancel) {
            *result = computeEnergyUse(path, s, onProgress, &cancel);
        },
        [this, result, started] {
            if (result->status == PassStatus::Done) {
                showEnergy(*result);
                std::int64_t records = 0;
                for (const MeterEnergy& m : meters_)
                    records += m.records;
                say(QStringLiteral("用量已算出：%1 个仪表，%2 条记录，用时 %3 秒")
                        .arg(meters_.size())
                        .arg(records)
                        .arg(started->elapsed() / 1000.0, 0, 'f', 1));
            } else {
                saidUnfinished(result->status, result->error);
            }
        });
}

bool EnergyTab::saidUnfinished(PassStatus status, const std::string& error) {
    if (status == PassStatus::Cancelled)
        say(QStringLiteral("已取消"));
    else if (status == PassStatus::Failed)
        say(QStringLiteral("读取历史数据失败：") + QString::fromStdString(error), true);
    return status != PassStatus::Done;
}

void EnergyTab::showEnergy(const EnergyUse& use) {
    meters_ = use.meters;
    tableNames_ = use.names;
    const auto rows = energyTableTexts(meters_, tableNames_);
    energyTable->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const bool totalRow = r == static_cast<int>(rows.size()) - 1;
        for (int c = 0; c < kEnergyColumns; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(rows[r][c]));
            if (c >= 3 && c != kEnergyNameColumn)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (totalRow) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            energyTable->setItem(r, c, item);
        }
    }
}

void EnergyTab::onCsvClicked() {
    if (energyTable->rowCount() == 0)
        return;
    const QString path = chooseSavePath(QStringLiteral("导出CSV"), QStringLiteral("能耗用量"),
                                        QStringLiteral("CSV 文件 (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    const std::string bytes = energyCsv(meters_, tableNames_);
    if (!saveOutput(path, QByteArray::fromStdString(bytes), station_, dialogs_))
        return;
    say(QStringLiteral("已保存：") + path);
}

QString EnergyTab::trendMeter() const {
    const HistorySelection s = selectionFrom(criteria());
    if (!s.allMeters)
        return QString::fromStdString(s.meterText);
    const int row = energyTable->currentRow();
    if (row >= 0 && row < static_cast<int>(meters_.size()))
        return QString::fromStdString(meters_[row].meterId);
    return {};
}

void EnergyTab::onTrendClicked() {
    offerMeters();
    const QString meter = trendMeter();
    if (meter.isEmpty()) {
        say(QStringLiteral("请填写一个仪表编号，或在表中选中一个仪表"), true);
        return;
    }
    drawTrend(meter);
}

void EnergyTab::drawTrend(const QString& meter) {
    if (running())
        return;
    std::optional<HistorySelection> bounded = boundedSelection();
    if (!bounded)
        return;
    const TrendQuantity& quantity = trendQuantities()[quantityBox->currentIndex()];
    if (quantity.lineCount == 0) {
        say(QStringLiteral("历史记录中没有%1").arg(QString::fromUtf8(quantity.caption)), true);
        return;
    }
    HistorySelection selection = std::move(*bounded);
    selection.allMeters = false;
    selection.meterText = meter.toStdString();
    LocalSeconds clock;
    const std::int64_t fromMs = clock.of(*selection.from).value_or(0) * 1000;
    const std::int64_t toMs = clock.of(*selection.to).value_or(0) * 1000;
    auto result = std::make_shared<TrendLoad>();
    auto names = std::make_shared<MeterNames>();
    // Summed-up hours stand in for the records when there are more hours than pixels (a
    // chart not laid out yet counts as a narrow one).
    const int pixels =
        std::max(kNarrowestPlot, static_cast<int>(chart->chart()->plotArea().width()));
    startJob(
        QStringLiteral("正在读取曲线…"),
        [result, names, path = databasePath_.toStdString(), selection, &quantity,
         pixels](const ProgressCallback& onProgress, const std::atomic_bool& cancel) {
            *result = loadTrend(path, selection, quantity, onProgress, &cancel, pixels);
            *names = readMeterNames(path);
        },
        [this, result, names, &quantity, fromMs, toMs, selection] {
            if (saidUnfinished(result->status, result->error))
                return;
            const QString label = QString::fromStdString(names->label(selection.meterText));
            const std::int64_t records = result->data.records;
            trendSelection_ = selection;
            trendQuantity_ = &quantity;
            trendStatus_ = records == 0
                               ? QStringLiteral("仪表 %1 在这段时间内没有记录").arg(label)
                               : QStringLiteral("仪表 %1：%2 条记录").arg(label).arg(records);
            chart->showTrend(std::make_shared<const TrendData>(std::move(result->data)), quantity,
                             label, fromMs, toMs);
            say(trendStatus_);
        });
}

void EnergyTab::loadTrendDetail(std::int64_t fromMs, std::int64_t toMs) {
    if (running() || !trendSelection_ || !trendQuantity_)
        return;
    // The span as stored times, within the trend's own bounds.
    auto stored = [](std::int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms)
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            .toStdString();
    };
    HistorySelection span = *trendSelection_;
    span.from = std::max(*span.from, stored(fromMs));
    span.to = std::min(*span.to, stored(toMs));
    auto result = std::make_shared<TrendLoad>();
    startJob(
        QStringLiteral("正在读取曲线…"),
        [result, path = databasePath_.toStdString(), span, quantity = trendQuantity_](
            const ProgressCallback& onProgress, const std::atomic_bool& cancel) {
            *result = loadTrend(path, span, *quantity, onProgress, &cancel);
        },
        [this, result, fromMs, toMs] {
            if (saidUnfinished(result->status, result->error))
                return;
            chart->showDetail(std::make_shared<const TrendData>(std::move(result->data)), fromMs,
                              toMs);
            say(trendStatus_);
        });
}

void EnergyTab::onPngClicked() {
    if (!chart->hasTrend())
        return;
    const QString path = chooseSavePath(QStringLiteral("保存曲线图片"), QStringLiteral("曲线"),
                                        QStringLiteral("PNG 图片 (*.png)"), QStringLiteral("png"));
    if (path.isEmpty())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!chart->grab().save(&buffer, "PNG")) {
        dialogs_.message(QStringLiteral("保存失败：%1").arg(path));
        return;
    }
    if (!saveOutput(path, png, station_, dialogs_))
        return;
    say(QStringLiteral("已保存：") + path);
}

} // namespace mirv
