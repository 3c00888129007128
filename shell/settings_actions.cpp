// Save, Exit and unload.
#include "dialogs.h"
#include "main_window.h"

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

bool validSendInterval(const QString& text) {
    bool isNumber = false;
    const double value = text.trimmed().toDouble(&isNumber);
    return isNumber && value >= 200 && value < 65535;
}

} // namespace

void MainWindow::onSaveClicked() {
    if (!validSendInterval(pollIntervalField->text())) {
        dialogs_.message(QStringLiteral("发送间隔必须输入大于200的数字且小于65535"));
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
    if (const auto failure = writeSettingsRow(databasePath().toStdString(), update))
        dialogs_.message(QString::fromStdString(*failure));
    dialogs_.endProgram();
}

void MainWindow::onExitClicked() {
    if (dialogs_.askYesNo(QStringLiteral("提示"), QStringLiteral("请确认是否退出系统?")))
        dialogs_.endProgram();
}

void MainWindow::unload() {
    pollTimer.stop();
    // Rows still waiting for the database get one more chance before the program ends.
    historyWriter->flush(std::chrono::seconds(3));
}

} // namespace mirv
