#pragma once

#include "energy_use.h"
#include "protected_files.h"
#include "query_criteria.h"

#include <QTimer>

#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace mirv {

class BackgroundJob;
class Dialogs;
class TrendChart;
struct TrendQuantity;

// The 能耗与趋势 tab: energy use per meter over a time range, saved as CSV, and one meter's
// trend of a quantity. Both read the history on a worker thread, one at a time, with a
// progress bar and a cancel button.
class EnergyTab : public QWidget {
    Q_OBJECT
  public:
    // What the tab saves never goes over the files `station` names.
    EnergyTab(QString databasePath, ProtectedFiles station, Dialogs& dialogs,
              QWidget* parent = nullptr);
    // Cancels a running computation and waits for it.
    ~EnergyTab() override;

    // The save dialog: caption, suggested file name and filter in, the chosen path out (empty
    // when the operator cancelled). Tests answer it.
    std::function<QString(const QString& caption, const QString& suggested, const QString& filter)>
        askSavePath;

    void onComputeClicked();
    void onCsvClicked();
    void onTrendClicked();
    void onPngClicked();
    void onCancelClicked();

    // The criteria fields as they stand; the step is not used here.
    QueryCriteria criteria() const;
    const std::vector<MeterEnergy>& shownMeters() const { return meters_; }
    bool running() const { return job_ != nullptr; }

    QLineEdit* fromField = nullptr;
    QLineEdit* toField = nullptr;
    QLineEdit* meterField = nullptr;
    QPushButton* computeButton = nullptr;
    QPushButton* csvButton = nullptr;
    QComboBox* quantityBox = nullptr;
    QPushButton* trendButton = nullptr;
    QPushButton* resetZoomButton = nullptr;
    QPushButton* pngButton = nullptr;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;
    QLabel* statusLine = nullptr;
    QTableWidget* energyTable = nullptr;
    TrendChart* chart = nullptr;

  signals:
    // A computation or a trend ended: done, cancelled or failed.
    void jobFinished();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    void startJob(const QString& status,
                  std::function<void(const ProgressCallback&, const std::atomic_bool&)> work,
                  std::function<void()> whenDone);
    void setRunning(bool running);
    void showEnergy(const EnergyUse& use);
    void drawTrend(const QString& meter);
    // Offers the named meters in the meter field, as the Meters table names them now.
    void offerMeters();
    // Reads the shown trend's records between the two times for the chart's zoomed view.
    void loadTrendDetail(std::int64_t fromMs, std::int64_t toMs);
    QString trendMeter() const;
    void say(const QString& text, bool failure = false);
    // Says why a background read did not finish; false when it did.
    bool saidUnfinished(PassStatus status, const std::string& error);
    // The save dialog's answer, with the suffix added when the operator typed none.
    QString chooseSavePath(const QString& caption, const QString& name, const QString& filter,
                           const QString& suffix);
    // The criteria's selection, or nothing (and the reason said) when a bound is no date.
    std::optional<HistorySelection> boundedSelection();

    QString databasePath_;
    ProtectedFiles station_;
    Dialogs& dialogs_;
    BackgroundJob* job_ = nullptr;
    QTimer progressTimer_;
    std::vector<MeterEnergy> meters_;
    // The names the shown table was computed with, and those the meter field offers.
    MeterNames tableNames_;
    MeterNames fieldNames_;
    // What the chart shows: its selection (one meter), quantity and status line.
    std::optional<HistorySelection> trendSelection_;
    const TrendQuantity* trendQuantity_ = nullptr;
    QString trendStatus_;
};

} // namespace mirv
