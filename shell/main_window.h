#pragma once

#include "history_model.h"
#include "protected_files.h"
#include "query_criteria.h"
#include "readings_board.h"
#include "report_export.h"
#include "station_engine.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;

namespace mirv {

class BoardCell;
class DiagnosticsTab;
class Dialogs;
class EnergyTab;
class EventsTab;
class WindowNotices;

// The station's window: one view of the station's engine, which runs in the window's own
// process or in the service the window is attached to. It shows what the engine publishes and
// sends the operator's commands down; the history's query, export, purge, energy and trends
// work on the database itself.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    // Without `attached` the window runs an engine of its own.
    MainWindow(const QString& programDir, Dialogs& dialogs,
               std::unique_ptr<StationFeed> attached = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The engine this window runs, or nothing when it is attached to the service's.
    StationEngine* engine() { return engine_.get(); }
    StationFeed& feed() { return *feed_; }

    QString databasePath() const;
    // The files no save in the window may write over.
    ProtectedFiles stationFiles() const;

    void startUp();
    void unload();
    void onSaveClicked();
    void onExitClicked();
    void onQueryClicked();
    void onPurgeClicked();
    void onExportClicked();

    // The query tab's four criteria fields as they stand.
    QueryCriteria criteria() const;

    // The controls the handlers and the tests reach.
    QTabWidget* tabs = nullptr;
    QLabel* messageLine = nullptr;
    QPushButton* exitButton = nullptr;
    std::array<std::array<BoardCell*, kCells>, kMeters> boardCells{};
    // The row numbers left of the board: red while a polled meter misses its polls, greyed
    // (disabled) for a row that is not polled.
    std::array<QLabel*, kMeters> meterNumbers{};
    // Left of each number, the name of the row's meter as far as there is room; the number's
    // tool tip holds the whole label.
    std::array<QLabel*, kMeters> meterNames{};
    QLineEdit* pollIntervalField = nullptr;
    QLineEdit* recordIntervalField = nullptr;
    QComboBox* meterCountBox = nullptr;
    QComboBox* baudBox = nullptr;
    QComboBox* portBox = nullptr;
    QPushButton* saveButton = nullptr;
    // The Meters table: rows 1..20, columns address, profile, name, polled.
    QTableWidget* meterTable = nullptr;
    QLineEdit* fromField = nullptr;
    QLineEdit* toField = nullptr;
    QLineEdit* meterField = nullptr;
    QLineEdit* stepField = nullptr;
    QPushButton* queryButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* purgeButton = nullptr;
    QTableView* historyGrid = nullptr;
    // The 能耗与趋势 tab's contents, made on first use.
    EnergyTab& energyTab();
    // The 通讯诊断 tab's contents, made on first use.
    DiagnosticsTab& diagnosticsTab();
    // The 报警事件 tab's contents, made on first use.
    EventsTab& eventsTab();

    HistoryModel historyModel;
    // How exports start the spreadsheet application, and the latest export while it runs.
    ReportExport::Office office;
    QPointer<ReportExport> lastExport;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void buildWindow();
    void buildBoardTab(int tab);
    void buildQueryTab();
    void buildSettingsTab();
    void showRow(int n);
    void showStaleRows();
    void showRowMark(int n);
    void onTabShown(int index);
    bool rowVisible(int n) const;
    void showGridColumns();
    // Offers the named meters in the query tab's meter field.
    void offerQueryMeters();
    void showSettings();
    void showMeterEntries();
    // Board row r's name beside its number, and its label as the number's tool tip; a row
    // without an entry in the Meters table has neither.
    void showBoardName(int r, std::optional<int> address, const MeterNames& names);
    // The entries the meter table holds, or the text that says why Save cannot store them.
    std::optional<std::vector<PlannedMeter>> meterEntries(QString& refusal) const;
    void onSettingsSaved(const QString& failure);

    QString programDir_;
    Dialogs& dialogs_;
    std::unique_ptr<StationEngine> engine_;
    std::unique_ptr<StationFeed> attached_;
    StationFeed* feed_ = nullptr;
    std::unique_ptr<WindowNotices> notices_;
    bool awaitingSave_ = false;
    // Whether the meter table shows what the database holds; Save leaves the table alone if not.
    bool metersShown_ = false;
    // The names the query tab's meter field offers.
    MeterNames queryNames_;
    // The texts the board's cells show, and the rows whose tab was hidden when they changed.
    std::array<BoardRow, kMeters> shownRows_{};
    std::array<bool, kMeters> staleRows_{};
    EnergyTab* energyTab_ = nullptr;
    DiagnosticsTab* diagnosticsTab_ = nullptr;
    EventsTab* eventsTab_ = nullptr;
};

} // namespace mirv
