#include "report_export.h"

#include "calc_office.h"
#include "database.h"
#include "history_query.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>

namespace mirv {

namespace {

constexpr int kFirstDataRow = 2; // row 3, counted from 0

} // namespace

ReportExport::ReportExport(QString templatePath, std::string databasePath, QueryCriteria criteria,
                           Office office, QObject* parent)
    : QObject(parent), templatePath_(std::move(templatePath)),
      databasePath_(std::move(databasePath)), criteria_(std::move(criteria)),
      office_(std::move(office)), calc_(std::make_unique<CalcOffice>()) {
    pipeName_ = QStringLiteral("mirv-%1-%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(QRandomGenerator::global()->generate64(), 0, 16);
}

ReportExport::~ReportExport() {
    cancelled_ = true;
    calc_->abort();
    if (worker_.joinable())
        worker_.join();
}

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
        QTimer::singleShot(0, this, [this] { emit finished(-1, false); });
        return;
    }
    worker_ = std::thread([this] {
        const Outcome outcome = run();
        QMetaObject::invokeMethod(
            this, [this, outcome] { emit finished(outcome.rows, outcome.moreThanFit); },
            Qt::QueuedConnection);
    });
}

ReportExport::Outcome ReportExport::run() {
    if (!reachOffice() || cancelled_ || !calc_->openTemplate(templatePath_.toStdString()))
        return {};
    return writeSelection();
}

bool ReportExport::reachOffice() {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + office_.connectFor;
    while (!cancelled_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        if (calc_->connect(pipeName_.toStdString(), std::min(office_.attemptFor, left)))
            return true;
        std::this_thread::sleep_for(office_.retryEvery);
    }
    return false;
}

// The selection's IDs come first in one short query, no more of them than the sheet holds and
// one to tell that there were more; the rows follow a block at a time, so neither the
// station's memory nor a read transaction grows with the size of the selection.
ReportExport::Outcome ReportExport::writeSelection() {
    Database db(databasePath_);
    const auto limit = static_cast<std::size_t>(office_.maxRecords);
    const auto ids = selectHistoryIds(db, selectionFrom(criteria_), limit + 1);
    if (!ids || ids->empty())
        return {0, false};
    const ReportTyping typing = calc_->typing();
    Statement readRow(db, historyRowSql());
    Outcome outcome{0, ids->size() > limit};
    const std::size_t wanted = std::min(ids->size(), limit);
    std::vector<ReportRow> block;
    HistoryRowView view;
    auto flush = [&] {
        if (block.empty())
            return true;
        if (!calc_->writeRows(kFirstDataRow + outcome.rows, block))
            return false;
        outcome.rows += static_cast<int>(block.size());
        block.clear();
        return true;
    };
    // A block's rows are read in one read transaction, not one a row (each costs the file's
    // locks and a look at the log), and it ends before the block goes to the office.
    bool reading = false;
    auto endReading = [&] {
        readRow.reset();
        if (reading)
            db.exec("COMMIT");
        reading = false;
    };
    for (std::size_t i = 0; i < wanted && !cancelled_; ++i) {
        if (!reading)
            reading = db.exec("BEGIN");
        readRow.reset();
        readRow.bind(1, (*ids)[i]);
        if (!readRow.step())
            continue; // deleted since the selection was made
        for (int c = 0; c < HistoryRows::kColumns; ++c)
            view[c] = readRow.textView(c);
        block.push_back(typing.row(view));
        if (block.size() < static_cast<std::size_t>(office_.rowsPerBlock))
            continue;
        endReading();
        if (!flush())
            return {outcome.rows > 0 ? outcome.rows : -1, false};
    }
    endReading();
    if (!flush() && outcome.rows == 0)
        return {};
    if (outcome.rows > 0)
        calc_->formatColumns(kFirstDataRow, kFirstDataRow + outcome.rows - 1);
    return outcome;
}

} // namespace mirv
