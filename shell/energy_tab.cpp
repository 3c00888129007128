// The energy tab's controls and their places.
#include "energy_tab.h"

#include "background_job.h"
#include "energy_table.h"
#include "meter_field.h"
#include "meter_plan_reader.h"
#include "saved_output.h"
#include "trend_chart.h"
#include "trend_quantity.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableWidget>

namespace mirv {

namespace {

constexpr int kColumnWidths[kEnergyColumns] = {70, 140, 140, 80, 110, 110, 110, 110, 110, 80, 120};

QPushButton* button(const QString& text, QHBoxLayout* row) {
    auto* b = new QPushButton(text);
    row->addWidget(b);
    return b;
}

QLineEdit* field(const QString& caption, const QString& text, int width, QHBoxLayout* row) {
    row->addWidget(new QLabel(caption));
    auto* f = new QLineEdit(text);
    f->setFixedWidth(width);
    row->addWidget(f);
    return f;
}

} // namespace

EnergyTab::EnergyTab(QString databasePath, ProtectedFiles station, Dialogs& dialogs,
                     QWidget* parent)
    : QWidget(parent), databasePath_(std::move(databasePath)), station_(std::move(station)),
      dialogs_(dialogs) {
    askSavePath = [this](const QString& caption, const QString& suggested, const QString& filter) {
        return askSaveFileName(this, caption, suggested, filter);
    };
    buildControls();
    progressTimer_.setInterval(100);
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        if (job_)
            progressBar->setValue(job_->permille());
    });
    connect(computeButton, &QPushButton::clicked, this, &EnergyTab::onComputeClicked);
    connect(csvButton, &QPushButton::clicked, this, &EnergyTab::onCsvClicked);
    connect(trendButton, &QPushButton::clicked, this, &EnergyTab::onTrendClicked);
    connect(resetZoomButton, &QPushButton::clicked, chart, &TrendChart::resetZoom);
    // Queued: a redraw at the end of a job asks only once that job is wound up.
    connect(chart, &TrendChart::detailWanted, this, &EnergyTab::loadTrendDetail,
            Qt::QueuedConnection);
    connect(pngButton, &QPushButton::clicked, this, &EnergyTab::onPngClicked);
    connect(cancelButton, &QPushButton::clicked, this, &EnergyTab::onCancelClicked);
    connect(energyTable, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (!running() && row < static_cast<int>(meters_.size()))
            drawTrend(QString::fromStdString(meters_[row].meterId));
    });
    setRunning(false);
}

void EnergyTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    offerMeters();
}

void EnergyTab::offerMeters() {
    fieldNames_ = readMeterNames(databasePath_.toStdString());
    offerMeterLabels(meterField, fieldNames_);
}

EnergyTab::~EnergyTab() {
    delete job_; // cancels the worker and waits for it before the fields and timer go
}

void EnergyTab::buildControls() {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(6, 6, 6, 6);
    page->setSpacing(4);

    // The month so far and the whole of today: from the 1st to tomorrow, both included.
    const QDate today = QDate::currentDate();
    auto* criteriaRow = new QHBoxLayout;
    fromField = field(QStringLiteral("日期："),
                      QDate(today.year(), today.month(), 1).toString(QStringLiteral("yyyy-MM-dd")),
                      140, criteriaRow);
    toField = field(QStringLiteral("至"), today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")),
                    140, criteriaRow);
    meterField = field(QStringLiteral("仪表编号："), QStringLiteral("全部"), 140, criteriaRow);
    computeButton = button(QStringLiteral("计算用量"), criteriaRow);
    csvButton = button(QStringLiteral("导出CSV"), criteriaRow);
    criteriaRow->addStretch();
    progressBar = new QProgressBar;
    progressBar->setRange(0, 1000);
    progressBar->setFixedWidth(180);
    criteriaRow->addWidget(progressBar);
    cancelButton = button(QStringLiteral("取消"), criteriaRow);
    page->addLayout(criteriaRow);

    auto* trendRow = new QHBoxLayout;
    trendRow->addWidget(new QLabel(QStringLiteral("曲线：")));
    quantityBox = new QComboBox;
    auto* quantities = new QStandardItemModel(quantityBox);
    for (const TrendQuantity& q : trendQuantities()) {
        auto* item = new QStandardItem(QString::fromUtf8(q.caption));
        if (q.lineCount == 0) {
            item->setEnabled(false);
            item->setToolTip(QStringLiteral("历史记录中没有这一项"));
        }
        quantities->appendRow(item);
    }
    quantityBox->setModel(quantities);
    trendRow->addWidget(quantityBox);
    trendButton = button(QStringLiteral("显示曲线"), trendRow);
    resetZoomButton = button(QStringLiteral("复位"), trendRow);
    pngButton = button(QStringLiteral("保存图片"), trendRow);
    statusLine = new QLabel;
    trendRow->addWidget(statusLine, 1);
    page->addLayout(trendRow);

    auto* split = new QSplitter(Qt::Vertical);
    chart = new TrendChart;
    split->addWidget(chart);
    energyTable = new QTableWidget(0, kEnergyColumns);
    for (int c = 0; c < kEnergyColumns; ++c) {
        energyTable->setHorizontalHeaderItem(
            c, new QTableWidgetItem(QString::fromUtf8(
                   kEnergyCaptions[c].data(), static_cast<int>(kEnergyCaptions[c].size()))));
        energyTable->setColumnWidth(c, kColumnWidths[c]);
    }
    // The name shows beside the number; the files keep it last.
    energyTable->horizontalHeader()->moveSection(kEnergyNameColumn, 1);
    energyTable->verticalHeader()->setVisible(false);
    energyTable->verticalHeader()->setDefaultSectionSize(20);
    energyTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    energyTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    energyTable->setSelectionMode(QAbstractItemView::SingleSelection);
    split->addWidget(energyTable);
    split->setSizes({250, 130});
    page->addWidget(split, 1);
}

} // namespace mirv
