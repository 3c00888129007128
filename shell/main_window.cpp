#include "main_window.h"

#include "diagnostics_tab.h"
#include "dialogs.h"
#include "energy_tab.h"
#include "engine_clock_env.h"
#include "events_tab.h"
#include "window_notices.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace mirv {

namespace {

constexpr int kQueryTabIndex = 2;
constexpr int kEnergyTabIndex = 4;
constexpr int kDiagnosticsTabIndex = 5;
constexpr int kEventsTabIndex = 6;

} // namespace

MainWindow::MainWindow(const QString& programDir, Dialogs& dialogs,
                       std::unique_ptr<StationFeed> attached, QWidget* parent)
    : QWidget(parent), programDir_(programDir), dialogs_(dialogs), attached_(std::move(attached)) {
    buildWindow();
    if (!attached_)
        engine_ = std::make_unique<StationEngine>(programDir_, engineClockFromEnvironment());
    feed_ = attached_ ? attached_.get() : engine_.get();

    connect(feed_, &StationFeed::rowChanged, this, &MainWindow::showRow);
    connect(feed_, &StationFeed::markChanged, this, &MainWindow::showRowMark);
    connect(feed_, &StationFeed::messageChanged, messageLine, &QLabel::setText);
    connect(feed_, &StationFeed::settingsChanged, this, &MainWindow::showSettings);
    connect(feed_, &StationFeed::settingsSaved, this, &MainWindow::onSettingsSaved);
    connect(tabs, &QTabWidget::currentChanged, this, &MainWindow::onTabShown);
    connect(exitButton, &QPushButton::clicked, this, &MainWindow::onExitClicked);
    connect(saveButton, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(queryButton, &QPushButton::clicked, this, &MainWindow::onQueryClicked);
    connect(purgeButton, &QPushButton::clicked, this, &MainWindow::onPurgeClicked);
    connect(exportButton, &QPushButton::clicked, this, &MainWindow::onExportClicked);
    exitButton->setFocus();
}

MainWindow::~MainWindow() = default;

QString MainWindow::databasePath() const {
    return programDir_ + QStringLiteral("/mirv.mdb");
}

ProtectedFiles MainWindow::stationFiles() const {
    return {{QFile::encodeName(databasePath()).toStdString()},
            QFile::encodeName(programDir_).toStdString()};
}

void MainWindow::onTabShown(int index) {
    if (index == kQueryTabIndex)
        offerQueryMeters();
    else if (index == kEnergyTabIndex)
        energyTab();
    else if (index == kDiagnosticsTabIndex)
        diagnosticsTab();
    else if (index == kEventsTabIndex)
        eventsTab();
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

EventsTab& MainWindow::eventsTab() {
    if (!eventsTab_) {
        QWidget* page = tabs->widget(kEventsTabIndex);
        eventsTab_ = new EventsTab(*feed_, databasePath(), page);
        page->layout()->addWidget(eventsTab_);
        page->layout()->activate();
        eventsTab_->show();
    }
    return *eventsTab_;
}

DiagnosticsTab& MainWindow::diagnosticsTab() {
    if (!diagnosticsTab_) {
        QWidget* page = tabs->widget(kDiagnosticsTabIndex);
        diagnosticsTab_ = new DiagnosticsTab(*feed_, stationFiles(), dialogs_, page);
        page->layout()->addWidget(diagnosticsTab_);
        page->layout()->activate();
        diagnosticsTab_->show(); // a layout shows its new widget only on a later turn
    }
    return *diagnosticsTab_;
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
