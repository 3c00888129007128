// Start-up: settings from the database into the controls and working copies, the poll timer,
// the serial port; every failing step is skipped and the last failure is reported at the end.
#include "dialogs.h"
#include "line_settings.h"
#include "main_window.h"
#include "port_device.h"

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <climits>

namespace mirv {

namespace {

// The poll interval as a whole number of milliseconds, or nothing when the text is not one.
std::optional<long long> wholeNumber(const QString& text) {
    static const QRegularExpression whole(QStringLiteral("^\\s*[+-]?\\d{1,18}\\s*$"));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    return text.trimmed().toLongLong();
}

} // namespace

void MainWindow::Form_Load() {
    QString lastFailure;
    bool failed = false;
    auto fail = [&](const std::string& description) {
        failed = true;
        lastFailure = QString::fromStdString(description);
    };
    auto text = [](const SettingsField& f) { return QString::fromStdString(*f.text); };

    // The window's flags already leave out the Close command, and main's lock stopped any
    // second copy before the window was made.
    const SettingsRow row = readSettingsRow(databasePath().toStdString());
    if (!row.error.empty())
        fail(row.error);

    if (row.timer.text)
        Text2->setText(text(row.timer));
    else
        fail(row.timer.error);

    if (row.num.text)
        Combo1->setCurrentText(text(row.num));
    else
        fail(row.num.error);

    if (row.com.whole && *row.com.whole >= 1 && *row.com.whole <= 10)
        Combo3->setCurrentIndex(static_cast<int>(*row.com.whole) - 1);

    if (row.Settings.text)
        Combo2->setCurrentText(text(row.Settings));
    else
        fail(row.Settings.error);

    PortNo = row.com;
    if (!PortNo.text)
        fail(PortNo.error);
    SendInterval = Text2->text();
    link.MeterCount = Combo1->currentText().toStdString();
    BaudText = Combo2->currentText();

    if (row.minute.text)
        Text3->setText(text(row.minute));
    else
        fail(row.minute.error);

    const QDate today = QDate::currentDate();
    Text10->setText(today.toString(QStringLiteral("yyyy-MM-dd")));
    Text11->setText(today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));

    // A poll interval of 0 or less leaves the poll timer stopped: a zero-interval QTimer
    // would fire on every pass of the event loop.
    if (const auto interval = wholeNumber(SendInterval); !interval || *interval > INT_MAX) {
        fail("The poll interval \"" + SendInterval.toStdString() +
             "\" is not a whole number of milliseconds.");
    } else if (*interval > 0) {
        Timer1.setInterval(static_cast<int>(*interval));
        Timer1.start();
    }

    link.CurAddr = 0;

    // Without a stored port number there is nothing to open; an invalid one leaves the port
    // on the number it holds.
    if (PortNo.text) {
        if (PortNo.whole && *PortNo.whole >= 1 && *PortNo.whole <= 255)
            CommPort = static_cast<int>(*PortNo.whole);
        else
            fail("Invalid port number: " + *PortNo.text + ".");
        if (const Failure f = MSComm1.open(portDevice(programDir_.toStdString(), CommPort))) {
            fail(*f);
        } else {
            if (const Failure s = MSComm1.setSettings("9600,n,8,1"))
                fail(*s);
            MSComm1.flushOutput();
            MSComm1.flushInput();
            if (const Failure s = MSComm1.setSettings(lineSettingsForBaud(BaudText.toStdString())))
                fail(*s);
        }
    }
    MSComm1.bytesArrived = [this] { link.MSComm1_OnComm(); };

    if (failed) {
        dialogs_.message(QStringLiteral("Com") + QString::number(CommPort) +
                         QStringLiteral(" is not available.") + QStringLiteral("\r\n") +
                         lastFailure);
        lastFailure.clear();
        Label9->setText(QStringLiteral("串口已被占用,请更改串口,通讯停止!"));
        Timer1.stop();
        Timer1.setInterval(0);
    }

    // Digits only, typed by the operator; what start-up put there stays as it is.
    Text2->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), Text2));
    Text3->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), Text3));
}

} // namespace mirv
