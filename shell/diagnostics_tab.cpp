#include "diagnostics_tab.h"

#include "dialogs.h"
#include "frame_monitor_model.h"
#include "saved_output.h"
#include "station_feed.h"
#include "visible_prefix_delegate.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

namespace mirv {

namespace {

const char* const kCounterHeaders[] = {"仪表",       "请求",
                                       "应答",       "未应答",
                                       "连续未应答", "CRC错误",
                                       "过短",       "过长",
                                       "多余字节",   "功能码错误",
                                       "地址错误",   "迟到",
                                       "无效字节",   "响应ms(最近/最小/平均/最大)",
                                       "最后应答",   "名称",
                                       "类型",       "读取"};
constexpr int kCounterColumns = static_cast<int>(std::size(kCounterHeaders));
// 名称, 类型 and 读取 are texts, not counters.
constexpr int kFirstLabelColumn = kCounterColumns - 3;

// Room either side of a counter's text, as the style draws a cell.
constexpr int kCellPaddingPx = 12;

// A meter with a miss or a reject this recently stands out.
constexpr std::int64_t kRecentUs = 60'000'000;

QString ms(std::int64_t us) {
    return QString::number(static_cast<double>(us) / 1000.0, 'f', 1);
}

// Last/min/mean/max; empty while no answer came.
QString responseTexts(const MeterCounters& m) {
    const auto mean = m.responseMeanUs();
    if (!m.responseLastUs || !m.responseMinUs || !mean || !m.responseMaxUs)
        return {};
    return QStringLiteral("%1/%2/%3/%4")
        .arg(ms(*m.responseLastUs), ms(*m.responseMinUs), ms(*mean), ms(*m.responseMaxUs));
}

// The read as its request asks it: function, first register and count ("03 @0x0030 ×91").
QString readText(const RegisterRead& read) {
    return QStringLiteral("%1 @0x%2 ×%3")
        .arg(read.function, 2, 10, QLatin1Char('0'))
        .arg(QString::number(read.first, 16).toUpper().rightJustified(4, QLatin1Char('0')))
        .arg(read.count);
}

} // namespace

DiagnosticsTab::DiagnosticsTab(StationFeed& feed, ProtectedFiles station, Dialogs& dialogs,
                               QWidget* parent)
    : QWidget(parent), feed_(feed), station_(std::move(station)), dialogs_(dialogs) {
    askSavePath = [this](const QString& caption, const QString& suggested, const QString& filter) {
        return askSaveFileName(this, caption, suggested, filter);
    };
    buildControls();
    longestTexts_.assign(kCounterColumns, 0);
    refreshTimer_.setInterval(kRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &DiagnosticsTab::refresh);
    connect(resetButton, &QPushButton::clicked, this, &DiagnosticsTab::onResetClicked);
    connect(pauseButton, &QPushButton::clicked, this, &DiagnosticsTab::onPauseClicked);
    connect(saveButton, &QPushButton::clicked, this, &DiagnosticsTab::onSaveClicked);
    connect(meterFilter, &QComboBox::currentIndexChanged, this, [this] { showFrames(); });
}

void DiagnosticsTab::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    // A line edit's size does not follow its text: the summary changing twice a second does
    // not lay out the whole window anew, as a label's would.
    lineSummary = new QLineEdit(this);
    lineSummary->setReadOnly(true);
    lineSummary->setFrame(false);
    lineSummary->setFocusPolicy(Qt::NoFocus);
    QPalette summaryColors = lineSummary->palette();
    summaryColors.setColor(QPalette::Base, summaryColors.color(QPalette::Window));
    lineSummary->setPalette(summaryColors);
    layout->addWidget(lineSummary);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter, 1);
    meterTable = new QTableWidget(0, kCounterColumns, splitter);
    QStringList headers;
    for (const char* h : kCounterHeaders)
        headers << QString::fromUtf8(h);
    meterTable->setHorizontalHeaderLabels(headers);
    meterTable->verticalHeader()->hide();
    meterTable->verticalHeader()->setDefaultSectionSize(20);
    meterTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Sized to the headers once; a column widens as a text outgrows it (see showText), never
    // by measuring the whole column again, which costs more than all else the tab does.
    meterTable->resizeColumnsToContents();

    auto* lower = new QWidget(splitter);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    lowerLayout->addLayout(bar);
    resetButton = new QPushButton(QStringLiteral("清零"), lower);
    pauseButton = new QPushButton(QStringLiteral("暂停"), lower);
    auto* filterLabel = new QLabel(QStringLiteral("仪表编号："), lower);
    meterFilter = new QComboBox(lower);
    meterFilter->addItem(QStringLiteral("全部"), 0);
    filterLabel->setBuddy(meterFilter);
    saveButton = new QPushButton(QStringLiteral("保存"), lower);
    statusLine = new QLabel(lower);
    for (QWidget* w : {static_cast<QWidget*>(resetButton), static_cast<QWidget*>(pauseButton),
                       static_cast<QWidget*>(filterLabel), static_cast<QWidget*>(meterFilter),
                       static_cast<QWidget*>(saveButton)})
        bar->addWidget(w);
    bar->addWidget(statusLine, 1);

    monitor = new FrameMonitorModel(this);
    monitorView = new QTableView(lower);
    monitorView->setModel(monitor);
    monitorView->setItemDelegateForColumn(FrameMonitorModel::BytesColumn,
                                          new VisiblePrefixDelegate(monitorView));
    monitorView->verticalHeader()->hide();
    monitorView->verticalHeader()->setDefaultSectionSize(20);
    monitorView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    monitorView->setWordWrap(false);
    monitorView->horizontalHeader()->setStretchLastSection(true);
    monitorView->setColumnWidth(FrameMonitorModel::TimeColumn, 96);
    for (int c : {FrameMonitorModel::MeterColumn, FrameMonitorModel::DirectionColumn,
                  FrameMonitorModel::LengthColumn})
        monitorView->setColumnWidth(c, 44);
    monitorView->setColumnWidth(FrameMonitorModel::VerdictColumn, 72);
    lowerLayout->addWidget(monitorView, 1);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
}

void DiagnosticsTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    refreshTimer_.start();
}

void DiagnosticsTab::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshTimer_.stop();
}

// The rows: each read the link polls, in its order, then any other read counted.
std::vector<PolledRead> DiagnosticsTab::shownReads() const {
    std::vector<PolledRead> shown = readout_.polled;
    std::set<ReadKey> polled;
    for (const PolledRead& r : shown)
        polled.insert(r.key);
    for (const auto& [key, m] : readout_.reads)
        if (key.address != 0 && m.requests > 0 && !polled.contains(key))
            shown.push_back({key, {}, {}, {}});
    return shown;
}

void DiagnosticsTab::refresh() {
    feed_.readLine(readout_);
    showCounters();
    showFrames();
}

void DiagnosticsTab::showCounters() {
    const LineCounters& line = readout_.line;
    const std::uint64_t opens = readout_.opens, openFailures = readout_.openFailures;
    lineSummary->setText(QStringLiteral("端口打开%1次,失败%2次   发送%3字节   接收%4字节   "
                                        "轮询周期%5ms(平均%6ms,最长%7ms,设定%8ms)")
                             .arg(opens)
                             .arg(openFailures)
                             .arg(line.bytesOut)
                             .arg(line.bytesIn)
                             .arg(ms(line.cycleLastUs), ms(line.cycleMeanUs()), ms(line.cycleMaxUs))
                             .arg(readout_.setIntervalMs));
    lineSummary->setCursorPosition(0); // its start shows when it is wider than the tab

    const std::vector<PolledRead> reads = shownReads();
    if (meterTable->rowCount() != static_cast<int>(reads.size()))
        meterTable->setRowCount(static_cast<int>(reads.size()));
    std::vector<int> addresses;
    for (const PolledRead& r : readout_.polled)
        if (std::ranges::find(addresses, r.key.address) == addresses.end())
            addresses.push_back(r.key.address);
    if (addresses != filterAddresses_) {
        filterAddresses_ = addresses;
        const QSignalBlocker quiet(meterFilter);
        const int chosen = meterFilter->currentData().toInt();
        while (meterFilter->count() > 1)
            meterFilter->removeItem(1);
        for (int a : addresses)
            meterFilter->addItem(QString::number(a), a);
        meterFilter->setCurrentIndex(std::max(0, meterFilter->findData(chosen)));
    }

    const std::int64_t nowUs = readout_.nowWallUs;
    const MeterCounters none;
    for (int r = 0; r < static_cast<int>(reads.size()); ++r) {
        const PolledRead& read = reads[static_cast<std::size_t>(r)];
        const auto counted = readout_.reads.find(read.key);
        const MeterCounters& m = counted == readout_.reads.end() ? none : counted->second;
        auto count = [&](RejectCause c) { return m.rejects[static_cast<int>(c)]; };
        QString function = QString::number(count(RejectCause::Function));
        if (m.lastException)
            function += QStringLiteral("(异常%1)").arg(m.lastException, 2, 16, QLatin1Char('0'));
        const QStringList texts{QString::number(read.key.address),
                                QString::number(m.requests),
                                QString::number(m.answers),
                                QString::number(m.missed),
                                QString::number(m.consecutiveMisses),
                                QString::number(count(RejectCause::Crc)),
                                QString::number(count(RejectCause::Short)),
                                QString::number(count(RejectCause::Long)),
                                QString::number(count(RejectCause::Trailing)),
                                function,
                                QString::number(count(RejectCause::Address)),
                                QString::number(m.late),
                                QString::number(m.strayBytes),
                                responseTexts(m),
                                m.lastAnswerUs
                                    ? QDateTime::fromMSecsSinceEpoch(m.lastAnswerUs / 1000)
                                          .toString(QStringLiteral("HH:mm:ss"))
                                    : QString(),
                                QString::fromStdString(read.name),
                                QString::fromStdString(read.profile),
                                read.read.count ? readText(read.read) : QString()};
        const bool troubled = m.lastTroubleUs != 0 && nowUs - m.lastTroubleUs < kRecentUs;
        for (int c = 0; c < kCounterColumns; ++c) {
            QTableWidgetItem* item = meterTable->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment((c >= kFirstLabelColumn ? Qt::AlignLeft : Qt::AlignRight) |
                                       Qt::AlignVCenter);
                meterTable->setItem(r, c, item);
            }
            if (item->text() != texts[c])
                showText(item, texts[c]);
            item->setBackground(troubled ? QColor(255, 210, 210) : QBrush());
            item->setForeground(troubled ? QColor(200, 0, 0) : QBrush());
        }
    }
}

// A column is made wider when the text is wider than it; it does not narrow again. Only a
// text longer than any the column had is measured: the counters' digits are all as wide.
void DiagnosticsTab::showText(QTableWidgetItem* item, const QString& text) {
    item->setText(text);
    qsizetype& longest = longestTexts_[static_cast<std::size_t>(item->column())];
    if (text.size() <= longest)
        return;
    longest = text.size();
    QHeaderView* header = meterTable->horizontalHeader();
    const int wanted = meterTable->fontMetrics().horizontalAdvance(text) + kCellPaddingPx;
    if (wanted > header->sectionSize(item->column()))
        header->resizeSection(item->column(), wanted);
}

// While paused the frames shown stay as they were; the filter still applies to them.
void DiagnosticsTab::showFrames() {
    const FrameRing& ring = readout_.frames;
    const int filter = meterFilter->currentData().toInt();
    const bool fresh = !paused_ && ring.pushed() != shownPushed_;
    if (!fresh && filter == shownFilter_)
        return;
    QScrollBar* scroll = monitorView->verticalScrollBar();
    const bool atEnd = scroll->value() == scroll->maximum();
    if (fresh) {
        monitor->take(ring);
        shownPushed_ = ring.pushed();
    }
    if (filter != shownFilter_) {
        monitor->setMeter(filter);
        shownFilter_ = filter;
    }
    if (atEnd)
        monitorView->scrollToBottom();
}

void DiagnosticsTab::onResetClicked() {
    feed_.clearCounters();
    refresh();
}

void DiagnosticsTab::onPauseClicked() {
    paused_ = !paused_;
    pauseButton->setText(paused_ ? QStringLiteral("继续") : QStringLiteral("暂停"));
    if (!paused_)
        showFrames();
}

void DiagnosticsTab::onSaveClicked() {
    QString path = askSavePath(QStringLiteral("保存报文"), QStringLiteral("通讯报文.txt"),
                               QStringLiteral("文本文件 (*.txt)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".txt");
    if (!saveOutput(path, monitor->text().toUtf8(), station_, dialogs_))
        return;
    statusLine->setText(QStringLiteral("已保存：") + path);
}

} // namespace mirv
