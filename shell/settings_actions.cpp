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

void MainWindow::Command4_Click() {
    if (!validSendInterval(Text2->text())) {
        dialogs_.message(QStringLiteral("发送间隔必须输入大于200的数字且小于65535"));
        return;
    }
    if (!dialogs_.askYesNo(QStringLiteral("提示"),
                           QStringLiteral("修改端口后必须重新进入本系统，请确认修改并退出系统?")))
        return;
    SettingsUpdate update;
    update.timer = Text2->text().toStdString();
    update.minute = Text3->text().toStdString();
    update.com = portNumberOf(Combo3->currentText());
    update.num = Combo1->currentText().toStdString();
    update.Settings = Combo2->currentText().toStdString();
    if (const auto failure = writeSettingsRow(databasePath().toStdString(), update))
        dialogs_.message(QString::fromStdString(*failure));
    dialogs_.endProgram();
}

void MainWindow::end_Click() {
    if (dialogs_.askYesNo(QStringLiteral("提示"), QStringLiteral("请确认是否退出系统?")))
        dialogs_.endProgram();
}

void MainWindow::Form_Unload() {
    Timer1.stop();
}

} // namespace mirv
