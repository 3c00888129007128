// Save and Exit.
#include "dialogs.h"
#include "main_window.h"
#include "settings_check.h"

#include <QComboBox>
#include <QLineEdit>

namespace mirv {

namespace {

// "com1".."com10" exactly (case-sensitively) give the port number; anything else nothing.
std::optional<int> portNumberOf(const QString& text) {
    for (int i = 1; i <= 10; ++i)
        if (text == QStringLiteral("com%1").arg(i))
            return i;
    return std::nullopt;
}

} // namespace

void MainWindow::onSaveClicked() {
    if (const std::string refused = refusedPollInterval(pollIntervalField->text().toStdString());
        !refused.empty()) {
        dialogs_.message(QString::fromStdString(refused));
        return;
    }
    QString refusal;
    const auto meters = meterEntries(refusal);
    if (!meters) {
        dialogs_.message(refusal);
        return;
    }
    if (!dialogs_.askYesNo(QStringLiteral("提示"),
                           QStringLiteral("修改端口后必须重新进入本系统，请确认修改并退出系统?")))
        return;
    SettingsUpdate update;
    update.timer = pollIntervalField->text().toStdString();
    update.minute = recordIntervalField->text().toStdString();
    update.com = portNumberOf(portBox->currentText());
    update.num = meterCountBox->currentText().toStdString();
    update.Settings = baudBox->currentText().toStdString();
    if (metersShown_)
        update.meters = *meters;
    awaitingSave_ = true;
    feed_->saveSettings(update);
}

// The engine stored the settings (or says why not); the window ends as after any Save.
void MainWindow::onSettingsSaved(const QString& failure) {
    if (!awaitingSave_)
        return;
    awaitingSave_ = false;
    if (!failure.isEmpty())
        dialogs_.message(failure);
    dialogs_.endProgram();
}

void MainWindow::onExitClicked() {
    const QString question =
        feed_->appliesAtOnce() ? QStringLiteral("请确认是否退出窗口?后台服务将继续采集和记录数据。")
                               : QStringLiteral("请确认是否退出系统?");
    if (dialogs_.askYesNo(QStringLiteral("提示"), question))
        dialogs_.endProgram();
}

void MainWindow::unload() {
    // Rows still waiting for the database get one more chance before the program ends.
    if (engine_)
        engine_->stop(std::chrono::seconds(3));
}

} // namespace mirv
