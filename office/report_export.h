#pragma once

#include "query_criteria.h"

#include <QObject>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace mirv {

class CalcOffice;

// One export into the spreadsheet: starts its own LibreOffice accepting on a pipe of its own,
// then, on a thread of its own so that polling and the window go on, reaches it (each attempt
// and the whole wait bounded), opens the report template as a new document and writes the
// selection of the criteria given at the click from row 3 down, a block of rows at a time.
// Gives up silently when there is no office or it does not answer in time.
class ReportExport : public QObject {
    Q_OBJECT
  public:
    // Sheet rows below the template's two: the most records one report can hold.
    static constexpr int kMaxRecords = 1048576 - 2;
    static constexpr int kRowsPerBlock = 4000;

    struct Office {
        QString program = QStringLiteral("soffice");
        QStringList extraArguments;
        std::chrono::milliseconds connectFor{45000};
        std::chrono::milliseconds attemptFor{5000};
        std::chrono::milliseconds retryEvery{250};
        int maxRecords = kMaxRecords;
        int rowsPerBlock = kRowsPerBlock;
    };

    ReportExport(QString templatePath, std::string databasePath, QueryCriteria criteria,
                 Office office, QObject* parent = nullptr);
    // Stops an export still running: the office keeps what was written.
    ~ReportExport() override;

    void start();

    const QString& pipeName() const { return pipeName_; }
    qint64 officePid() const { return officePid_; }

  signals:
    // Records written, or -1 when nothing could be written (no office, no template);
    // `moreThanFit` when the selection held more records than the sheet.
    void finished(int rows, bool moreThanFit);

  private:
    struct Outcome {
        int rows = -1;
        bool moreThanFit = false;
    };
    Outcome run();
    bool reachOffice();
    Outcome writeSelection();

    QString templatePath_;
    std::string databasePath_;
    QueryCriteria criteria_;
    Office office_;
    QString pipeName_;
    qint64 officePid_ = -1;
    std::unique_ptr<CalcOffice> calc_;
    std::atomic<bool> cancelled_{false};
    std::thread worker_;
};

} // namespace mirv
