#include "report_export.h"

#include "calc_office.h"
#include "history_query.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace mirv {

ReportExport::ReportExport(QString templatePath, std::string databasePath, QueryCriteria criteria,
                           Office office, QObject* parent)
    : QObject(parent), templatePath_(std::move(templatePath)),
      databasePath_(std::move(databasePath)), criteria_(std::move(criteria)),
      office_(std::move(office)), calc_(std::make_unique<CalcOffice>()) {
    pipeName_ = QStringLiteral("mirv-%1-%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(QRandomGenerator::global()->generate64(), 0, 16);
    retry_.setInterval(office_.retryEvery);
    connect(&retry_, &QTimer::timeout, this, &ReportExport::attempt);
}

ReportExport::~ReportExport() = default;

void ReportExport::start() {
    const QString program = QStandardPaths::findExecutable(office_.program);
    // Every export starts an office of its own; from then on it is the operator's.
    if (!CalcOffice::supported() || program.isEmpty() ||
        !QProcess::startDetached(
            program,
            QStringList{QStringLiteral("--nologo"), QStringLiteral("--norestore"),
                        QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipeName_)} +
                office_.extraArguments,
            QString(), &officePid_)) {
        QTimer::singleShot(0, this, [this] { finish(-1); });
        return;
    }
    deadline_ = std::chrono::steady_clock::now() + office_.connectFor;
    retry_.start();
}

void ReportExport::attempt() {
    if (!calc_->connect(pipeName_.toStdString())) {
        if (std::chrono::steady_clock::now() > deadline_)
            finish(-1);
        return;
    }
    retry_.stop();
    if (!calc_->openTemplate(templatePath_.toStdString())) {
        finish(-1);
        return;
    }
    const HistoryRows rows = queryHistory(databasePath_, selectionFrom(criteria_));
    finish(rows.empty() ? 0 : calc_->writeRows(rows) ? static_cast<int>(rows.size()) : -1);
}

void ReportExport::finish(int rows) {
    retry_.stop();
    calc_.reset(); // lets go of the office; the document stays open in it
    emit finished(rows);
}

} // namespace mirv
