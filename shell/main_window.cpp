#include "main_window.h"

#include "dialogs.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

namespace mirv {

MainWindow::MainWindow(const QString& programDir, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), programDir_(programDir), dialogs_(dialogs) {
    buildWindow();

    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &MainWindow::Timer1_Timer);
    Timer2.setInterval(60000);
    connect(&Timer2, &QTimer::timeout, this, &MainWindow::Timer2_Timer);
    Timer2.start();
    logger = std::make_unique<RecordLogger>(databasePath().toStdString(), board);
    recordTick.recordAll = [this] { logger->recordAll(); };

    board.rowChanged = [this](int n) { showRow(n); };
    connect(end, &QPushButton::clicked, this, &MainWindow::end_Click);
    connect(Command4, &QPushButton::clicked, this, &MainWindow::Command4_Click);
    connect(Command10, &QPushButton::clicked, this, &MainWindow::Command10_Click);
    connect(Command9, &QPushButton::clicked, this, &MainWindow::Command9_Click);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    end->setFocus();
}

MainWindow::~MainWindow() {
    board.rowChanged = nullptr;
}

QString MainWindow::databasePath() const {
    return programDir_ + QStringLiteral("/mirv.mdb");
}

void MainWindow::showRow(int n) {
    const BoardRow& row = board.kt(n);
    for (int i = 0; i < kCells; ++i) {
        QLineEdit* cell = kt[n - 1][i];
        cell->setText(QString::fromStdString(row[i]));
        cell->setCursorPosition(0); // long status texts show their start
    }
}

void MainWindow::Timer1_Timer() {
    link.Timer1_Timer();
}

void MainWindow::Timer2_Timer() {
    recordTick.Timer2_Timer(Text3->text().toStdString());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window offers no Close command; a window manager's close button or Alt+F4 is refused.
    event->ignore();
}

} // namespace mirv
