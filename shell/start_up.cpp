// Start-up: settings from the database into the controls and working copies, the poll timer,
// the serial port; every failing step is skipped and the last failure is reported at the end.
#include "dialogs.h"
#include "line_settings.h"
#include "main_window.h"
#include "poll_pace.h"
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

void MainWindow::startUp() {
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
        pollIntervalField->setText(text(row.timer));
    else
        fail(row.timer.error);

    if (row.num.text)
        meterCountBox->setCurrentText(text(row.num));
    else
        fail(row.num.error);

    if (row.com.whole && *row.com.whole >= 1 && *row.com.whole <= 10)
        portBox->setCurrentIndex(static_cast<int>(*row.com.whole) - 1);

    if (row.Settings.text)
        baudBox->setCurrentText(text(row.Settings));
    else
        fail(row.Settings.error);

    storedPort = row.com;
    if (!storedPort.text)
        fail(storedPort.error);
    pollIntervalText = pollIntervalField->text();
    link.meterCount = meterCountBox->currentText().toStdString();
    for (int n = 1; n <= kMeters; ++n)
        showRowMark(n);
    baudText = baudBox->currentText();

    if (row.minute.text)
        recordIntervalField->setText(text(row.minute));
    else
        fail(row.minute.error);

    const QDate today = QDate::currentDate();
    fromField->setText(today.toString(QStringLiteral("yyyy-MM-dd")));
    toField->setText(today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));

    // A poll interval of 0 or less leaves the poll timer stopped: a zero-interval QTimer
    // would fire on every pass of the event loop.
    if (const auto interval = wholeNumber(pollIntervalText); !interval || *interval > INT_MAX) {
        fail("The poll interval \"" + pollIntervalText.toStdString() +
             "\" is not a whole number of milliseconds.");
    } else if (*interval > 0) {
        pollTimer.setInterval(pollIntervalFor(static_cast<int>(*interval),
                                              lineSettingsForBaud(baudText.toStdString())));
        pollTimer.start();
    }

    link.currentAddress = 0;

    // Without a stored port number there is nothing to open; an invalid one leaves the port
    // on the number it holds.
    if (storedPort.text) {
        if (storedPort.whole && *storedPort.whole >= 1 && *storedPort.whole <= 255)
            portNumber = static_cast<int>(*storedPort.whole);
        else
            fail("Invalid port number: " + *storedPort.text + ".");
        if (const Failure f = serialPort.open(portDevice(programDir_.toStdString(), portNumber))) {
            fail(*f);
        } else {
            if (const Failure s = serialPort.setSettings("9600,n,8,1"))
                fail(*s);
            serialPort.flushOutput();
            serialPort.flushInput();
            if (const Failure s =
                    serialPort.setSettings(lineSettingsForBaud(baudText.toStdString())))
                fail(*s);
        }
    }
    serialPort.bytesArrived = [this] { link.onBytesArrived(); };

    if (failed) {
        // Nothing is polled or decoded from here on, also while the box is open.
        pollTimer.stop();
        pollTimer.setInterval(0);
        link.stop();
        dialogs_.message(QStringLiteral("Com") + QString::number(portNumber) +
                         QStringLiteral(" is not available.") + QStringLiteral("\r\n") +
                         lastFailure);
        lastFailure.clear();
        messageLine->setText(QStringLiteral("串口已被占用,请更改串口,通讯停止!"));
    }

    // Digits only, typed by the operator; what start-up put there stays as it is.
    pollIntervalField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}")), pollIntervalField));
    recordIntervalField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}")), recordIntervalField));
}

} // namespace mirv
