#include "dialogs.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace mirv {

void QtDialogs::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    parent_);
    box.exec();
}

bool QtDialogs::askYesNo(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon,
                    title.isEmpty() ? QCoreApplication::applicationName() : title, text,
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::endProgram() {
    // exit(), not quit(): quit() first asks the windows to close, which the main window refuses.
    QCoreApplication::exit(0);
}

} // namespace mirv
