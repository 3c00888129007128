// Start-up: settings from the database into the controls and working copies, the poll timer,
// the serial port; every failing step is skipped and the last failure is reported at the end.
#include "dialogs.h"
#include "leading_number.h"
#include "line_settings.h"
#include "main_window.h"
#include "poll_pace.h"
#include "port_device.h"
#include "station_file.h"

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

// What start-up's box and the message line say when the database failed: its first line is
// the message line's text, then the file and the system's reason.
QString databaseFailureText(const StationFileProblem& problem, const QString& path) {
    QString first;
    switch (problem.kind) {
    case StationFileProblem::Missing:
        first = QStringLiteral("数据库文件不存在,通讯停止!");
        break;
    case StationFileProblem::Unusable:
        first = QStringLiteral("数据库无法打开,通讯停止!");
        break;
    case StationFileProblem::MissingTables: {
        QStringList tables;
        for (const std::string& t : problem.tables)
            tables << QString::fromStdString(t);
        return QStringLiteral("数据库缺少数据表%1,通讯停止!\r\n")
                   .arg(tables.join(QStringLiteral("、"))) +
               path;
    }
    }
    return first + QStringLiteral("\r\n") + path + QStringLiteral("\r\n") +
           QString::fromStdString(problem.reason);
}

constexpr const char* kDefaultPollInterval = "2000";
constexpr const char* kDefaultRecordInterval = "1";

} // namespace

void MainWindow::startUp() {
    // The last failure of each kind; the box tells of the database or the settings row before
    // the port, which without them is only the default one.
    QString lastFailure, settingsFailure, databaseFailure;
    bool failed = false;
    auto fail = [&](const std::string& description) {
        failed = true;
        lastFailure = QString::fromStdString(description);
    };
    auto failSettings = [&](const std::string& description) {
        failed = true;
        settingsFailure = QString::fromStdString(description);
    };
    auto text = [](const SettingsField& f) { return QString::fromStdString(*f.text); };

    // The window's flags already leave out the Close command, and main's lock stopped any
    // second copy before the window was made. A file that is not the station's database is
    // only read, never written, and the settings are not looked for in it.
    const std::string path = databasePath().toStdString();
    const auto problem = checkStationFile(path, 1000);
    SettingsRow row;
    if (problem) {
        failed = true;
        databaseFailure = databaseFailureText(*problem, databasePath());
        for (SettingsField* f : {&row.timer, &row.minute, &row.com, &row.Settings, &row.num})
            f->error = problem->reason;
    } else {
        row = readSettingsRow(path);
        if (!row.error.empty())
            failSettings(row.error);
    }
    // A field's failure counts for the settings row only when the database itself was fine.
    auto failField = [&](const SettingsField& f) {
        if (problem)
            failed = true;
        else
            failSettings(f.error);
    };

    if (row.timer.text)
        pollIntervalField->setText(text(row.timer));
    else
        failField(row.timer);

    if (row.num.text)
        meterCountBox->setCurrentText(text(row.num));
    else
        failField(row.num);

    if (row.com.whole && *row.com.whole >= 1 && *row.com.whole <= 10)
        portBox->setCurrentIndex(static_cast<int>(*row.com.whole) - 1);

    if (row.Settings.text)
        baudBox->setCurrentText(text(row.Settings));
    else
        failField(row.Settings);

    storedPort = row.com;
    if (!storedPort.text)
        failField(storedPort);

    // Stored intervals that cannot work (possible only by editing the database) give way to
    // the defaults for this run; the stored row stays as it is.
    QStringList replaced;
    if (const auto interval = wholeNumber(pollIntervalField->text());
        row.timer.text && interval && *interval <= 0) {
        pollIntervalField->setText(QString::fromLatin1(kDefaultPollInterval));
        replaced << QStringLiteral("发送间隔设置无效,已使用默认值%1毫秒").arg(kDefaultPollInterval);
    }
    if (row.minute.text && leadingNumber(*row.minute.text) < 1) {
        row.minute.text = kDefaultRecordInterval;
        replaced
            << QStringLiteral("记录时间设置无效,已使用默认值%1分钟").arg(kDefaultRecordInterval);
    }
    if (!replaced.isEmpty())
        messageLine->setText(replaced.join(QStringLiteral(";")));
    pollIntervalText = pollIntervalField->text();
    link.meterCount = meterCountBox->currentText().toStdString();
    for (int n = 1; n <= kMeters; ++n)
        showRowMark(n);
    baudText = baudBox->currentText();

    if (row.minute.text)
        recordIntervalField->setText(text(row.minute));
    else
        failField(row.minute);

    const QDate today = QDate::currentDate();
    fromField->setText(today.toString(QStringLiteral("yyyy-MM-dd")));
    toField->setText(today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));

    // A poll interval of 0 or less leaves the poll timer stopped: a zero-interval QTimer
    // would fire on every pass of the event loop.
    if (const auto interval = wholeNumber(pollIntervalText); !interval || *interval > INT_MAX) {
        failSettings("The poll interval \"" + pollIntervalText.toStdString() +
                     "\" is not a whole number of milliseconds.");
    } else if (*interval > 0) {
        pollTimer.setInterval(pollIntervalFor(static_cast<int>(*interval),
                                              lineSettingsForBaud(baudText.toStdString())));
        pollTimer.start();
    }
    link.stats.setIntervalMs = pollTimer.interval();

    link.currentAddress = 0;

    // Without a stored port number there is nothing to open; an invalid one leaves the port
    // on the number it holds. A gateway that cannot be reached yet is no failure: the port
    // keeps trying and the message line says so meanwhile.
    serialPort.gatewayConnectionChanged = [this](bool up) { showGatewayConnected(up); };
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
    // The wire time of a request is known on the station's own serial line only.
    if (const auto settings = parseLineSettings(lineSettingsForBaud(baudText.toStdString())))
        link.stats.setBaud(serialPort.isGateway() ? 0 : settings->baud);

    if (failed) {
        // Nothing is polled or decoded from here on, also while the box is open.
        pollTimer.stop();
        pollTimer.setInterval(0);
        link.stop();
        serialPort.closeGateway();
        QString box;
        if (!databaseFailure.isEmpty()) {
            box = databaseFailure;
        } else if (!settingsFailure.isEmpty()) {
            box = QStringLiteral("系统设置读取失败,通讯停止!\r\n") + databasePath() +
                  QStringLiteral("\r\n") + settingsFailure;
        } else {
            box = QStringLiteral("Com") + QString::number(portNumber) +
                  QStringLiteral(" is not available.") + QStringLiteral("\r\n") + lastFailure;
        }
        lastFailure.clear();
        // The message line is set before the box opens, so it is there while the box waits.
        messageLine->setText(databaseFailure.isEmpty() && settingsFailure.isEmpty()
                                 ? QStringLiteral("串口已被占用,请更改串口,通讯停止!")
                                 : box.section(QStringLiteral("\r\n"), 0, 0));
        dialogs_.message(box);
    }
    // Rows an earlier run could not write go in first, into a database that passed its checks.
    if (!problem)
        historyWriter->writePending();

    // Digits only, typed by the operator; what start-up put there stays as it is.
    pollIntervalField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}")), pollIntervalField));
    recordIntervalField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}")), recordIntervalField));
}

} // namespace mirv
