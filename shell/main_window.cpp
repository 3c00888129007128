#include "main_window.h"

#include "day_summary_store.h"
#include "diagnostics_tab.h"
#include "dialogs.h"
#include "energy_tab.h"
#include "local_time.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>

namespace mirv {

namespace {

constexpr int kEnergyTabIndex = 4;
constexpr int kDiagnosticsTabIndex = 5;

} // namespace

MainWindow::MainWindow(const QString& programDir, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), programDir_(programDir), dialogs_(dialogs) {
    buildWindow();

    pollTimer.setInterval(1000);
    connect(&pollTimer, &PollTimer::timeout, this, &MainWindow::onPollTick);
    recordTimer.setInterval(60000);
    connect(&recordTimer, &QTimer::timeout, this, &MainWindow::onRecordTick);
    recordTimer.start();
    historyWriter = std::make_unique<HistoryWriter>(databasePath().toStdString());
    historyWriter->stateChanged = [this](HistoryWriter::State state) {
        QMetaObject::invokeMethod(
            this, [this, state] { showHistoryState(state); }, Qt::QueuedConnection);
    };
    historyWriter->cutLinesDropped = [this](std::size_t lines) {
        std::fprintf(stderr,
                     "mirv-station: %zu cut lines dropped from %s: a crash cut them short\n", lines,
                     historyWriter->pendingPath().c_str());
        QMetaObject::invokeMethod(
            this,
            [this, lines] {
                messageLine->setText(
                    QStringLiteral("历史暂存文件中%1行不完整(断电截断),已丢弃").arg(lines));
            },
            Qt::QueuedConnection);
    };
    historyWriter->beforeCommit = [](Database& db) { addNewRowsToDaySummaries(db); };
    logger = std::make_unique<RecordLogger>(board, *historyWriter);
    recordTick.recordAll = [this] { logger->recordAll(); };
    linkstatsLogger = std::make_unique<LinkstatsLogger>(link.stats, *historyWriter);
    linkstatsLogger->check(localTimeNow());
    hourTimer.setSingleShot(true);
    connect(&hourTimer, &QTimer::timeout, this, [this] {
        linkstatsLogger->check(localTimeNow());
        armHourTimer();
    });
    armHourTimer();

    board.rowChanged = [this](int n) {
        // A poll's answer fills the whole row; a missed one empties it.
        const BoardRow& row = board.row(n);
        missedLastPoll_[n - 1] = !link.stopped() && std::all_of(row.begin(), row.end(),
                                                                [](auto& t) { return t.empty(); });
        showRow(n);
    };
    connect(tabs, &QTabWidget::currentChanged, this, &MainWindow::onTabShown);
    connect(exitButton, &QPushButton::clicked, this, &MainWindow::onExitClicked);
    connect(saveButton, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(queryButton, &QPushButton::clicked, this, &MainWindow::onQueryClicked);
    connect(purgeButton, &QPushButton::clicked, this, &MainWindow::onPurgeClicked);
    connect(exportButton, &QPushButton::clicked, this, &MainWindow::onExportClicked);
    exitButton->setFocus();
}

MainWindow::~MainWindow() {
    board.rowChanged = nullptr;
}

QString MainWindow::databasePath() const {
    return programDir_ + QStringLiteral("/mirv.mdb");
}

ProtectedFiles MainWindow::stationFiles() const {
    return {{QFile::encodeName(databasePath()).toStdString()},
            QFile::encodeName(programDir_).toStdString()};
}

void MainWindow::onTabShown(int index) {
    if (index == kEnergyTabIndex)
        energyTab();
    else if (index == kDiagnosticsTabIndex)
        diagnosticsTab();
    else
        showStaleRows();
}

EnergyTab& MainWindow::energyTab() {
    if (!energyTab_) {
        QWidget* page = tabs->widget(kEnergyTabIndex);
        energyTab_ = new EnergyTab(databasePath(), stationFiles(), dialogs_, page);
        page->layout()->addWidget(energyTab_);
        page->layout()->activate();
    }
    return *energyTab_;
}

DiagnosticsTab& MainWindow::diagnosticsTab() {
    if (!diagnosticsTab_) {
        QWidget* page = tabs->widget(kDiagnosticsTabIndex);
        diagnosticsTab_ = new DiagnosticsTab(link, {&serialPort.serial(), &serialPort.gateway()},
                                             stationFiles(), dialogs_, page);
        page->layout()->addWidget(diagnosticsTab_);
        page->layout()->activate();
        diagnosticsTab_->show(); // a layout shows its new widget only on a later turn
    }
    return *diagnosticsTab_;
}

void MainWindow::onPollTick() {
    link.onPollTick();
}

void MainWindow::onRecordTick() {
    recordTick.minutePassed(recordIntervalField->text().toStdString());
}

// Just past the next full hour of local time.
void MainWindow::armHourTimer() {
    const QDateTime now = QDateTime::currentDateTime();
    const QTime t = now.time();
    const int msIntoHour = (t.minute() * 60 + t.second()) * 1000 + t.msec();
    hourTimer.start(3600 * 1000 - msIntoHour + 200);
}

void MainWindow::showHistoryState(HistoryWriter::State state) {
    static const QStringList texts{
        QString(),
        QStringLiteral("历史数据写入失败,等待重试"),
        QStringLiteral("数据库文件不存在,等待恢复"),
        QStringLiteral("历史数据写入失败,暂存文件也无法写入,退出将丢失数据!"),
    };
    const QString& text = texts[static_cast<int>(state)];
    const bool shown = texts.indexOf(messageLine->text()) > 0;
    if (state == HistoryWriter::State::Written) {
        if (shown)
            messageLine->setText(messageBeforeBacklog_);
        else if (texts.indexOf(messageBeforeGateway_) > 0)
            messageBeforeGateway_ = messageBeforeBacklog_; // under the gateway's text
        return;
    }
    // What the line held before the rows began to wait comes back once they are written.
    if (!shown)
        messageBeforeBacklog_ = messageLine->text();
    messageLine->setText(text);
}

void MainWindow::showGatewayConnected(bool connected) {
    const QString retrying = QStringLiteral("网关未连接,正在重试");
    if (!connected && messageLine->text() != retrying) {
        messageBeforeGateway_ = messageLine->text();
        messageLine->setText(retrying);
    } else if (connected && messageLine->text() == retrying) {
        messageLine->setText(messageBeforeGateway_);
    } else if (connected && messageBeforeBacklog_ == retrying) {
        messageBeforeBacklog_ = messageBeforeGateway_; // under the history's text
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        showStaleRows(); // back from minimized
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window offers no Close command; a window manager's close button or Alt+F4 is refused.
    event->ignore();
}

} // namespace mirv
