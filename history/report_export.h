#pragma once

#include "query_criteria.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <memory>

namespace mirv {

class CalcOffice;

// One export into the spreadsheet: starts its own LibreOffice accepting on a pipe of its own,
// waits for it without blocking the event loop, then opens the report template as a new
// document and writes the selection of the criteria given at the click from row 3 down.
// Gives up silently when there is no office or it does not answer in time.
class ReportExport : public QObject {
    Q_OBJECT
  public:
    struct Office {
        QString program = QStringLiteral("soffice");
        QStringList extraArguments;
        std::chrono::milliseconds connectFor{45000};
        std::chrono::milliseconds retryEvery{250};
    };

    ReportExport(QString templatePath, std::string databasePath, QueryCriteria criteria,
                 Office office, QObject* parent = nullptr);
    ~ReportExport() override;

    void start();

    const QString& pipeName() const { return pipeName_; }
    qint64 officePid() const { return officePid_; }

  signals:
    // Rows written, or -1 when nothing could be written (no office, no template).
    void finished(int rows);

  private:
    void attempt();
    void finish(int rows);

    QString templatePath_;
    std::string databasePath_;
    QueryCriteria criteria_;
    Office office_;
    QString pipeName_;
    qint64 officePid_ = -1;
    QTimer retry_;
    std::chrono::steady_clock::time_point deadline_;
    std::unique_ptr<CalcOffice> calc_;
};

} // namespace mirv
