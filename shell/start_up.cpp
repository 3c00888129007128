// Start-up of the window: the engine's start (or what the attached service shows), the
// settings into the 系统设置 fields and the query tab's dates.
#include "dialogs.h"
#include "main_window.h"
#include "window_notices.h"

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace mirv {

void MainWindow::startUp() {
    // The window's flags already leave out the Close command, and main's lock stopped any
    // second engine in the folder before the window was made.
    QString box;
    notices_ = std::make_unique<WindowNotices>(*feed_, engine_.get(), programDir_);
    if (engine_)
        box = engine_->start();
    showSettings();
    messageLine->setText(feed_->message());
    for (int n = 1; n <= kMeters; ++n)
        showRow(n);

    const QDate today = QDate::currentDate();
    fromField->setText(today.toString(QStringLiteral("yyyy-MM-dd")));
    toField->setText(today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));
    if (!box.isEmpty())
        dialogs_.message(box);

    // Digits only, typed by the operator; what start-up put there stays as it is.
    pollIntervalField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}")), pollIntervalField));
    recordIntervalField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}")), recordIntervalField));
}

// The settings as they apply; a field without a value keeps what it shows.
void MainWindow::showSettings() {
    const SettingsTexts s = feed_->settingsTexts();
    auto text = [](const std::string& t) { return QString::fromStdString(t); };
    if (s.pollInterval)
        pollIntervalField->setText(text(*s.pollInterval));
    if (s.meterCount)
        meterCountBox->setCurrentText(text(*s.meterCount));
    if (s.port)
        portBox->setCurrentIndex(*s.port - 1);
    if (s.baud)
        baudBox->setCurrentText(text(*s.baud));
    if (s.recordInterval)
        recordIntervalField->setText(text(*s.recordInterval));
    showMeterEntries();
}

} // namespace mirv
