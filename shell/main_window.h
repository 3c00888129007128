#pragma once

#include "history_model.h"
#include "history_writer.h"
#include "linkstats_logger.h"
#include "meter_link.h"
#include "poll_timer.h"
#include "protected_files.h"
#include "query_criteria.h"
#include "readings_board.h"
#include "record_logger.h"
#include "record_tick.h"
#include "report_export.h"
#include "settings_row.h"
#include "station_port.h"

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

namespace mirv {

class BoardCell;
class DiagnosticsTab;
class Dialogs;
class EnergyTab;

// The station's one window. It owns the link, the board and the timers for the program's
// lifetime and dispatches the timer ticks, the port's bytes and the buttons to them.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    MainWindow(const QString& programDir, Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

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
    QLineEdit* pollIntervalField = nullptr;
    QLineEdit* recordIntervalField = nullptr;
    QComboBox* meterCountBox = nullptr;
    QComboBox* baudBox = nullptr;
    QComboBox* portBox = nullptr;
    QPushButton* saveButton = nullptr;
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

    PollTimer pollTimer;
    QTimer recordTimer;

    // The serial line, or the gateway that ports/comN names.
    StationPort serialPort;
    ReadingsBoard board;
    MeterLink link{serialPort, board};
    RecordTick recordTick;
    std::unique_ptr<HistoryWriter> historyWriter;
    std::unique_ptr<RecordLogger> logger;
    // The line's tallies into Linkstats on the hour.
    std::unique_ptr<LinkstatsLogger> linkstatsLogger;
    QTimer hourTimer;
    HistoryModel historyModel;
    // How exports start the spreadsheet application, and the latest export while it runs.
    ReportExport::Office office;
    QPointer<ReportExport> lastExport;

    // The port number the port holds; 1 until start-up sets another.
    int portNumber = 1;
    // Working copies taken at start-up.
    SettingsField storedPort;
    QString pollIntervalText;
    QString baudText;

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
    void onPollTick();
    void onRecordTick();
    void armHourTimer();
    void showHistoryState(HistoryWriter::State state);
    void showGatewayConnected(bool connected);

    QString programDir_;
    Dialogs& dialogs_;
    QString messageBeforeBacklog_;
    QString messageBeforeGateway_;
    // The texts the board's cells show, and the rows whose tab was hidden when they changed.
    std::array<BoardRow, kMeters> shownRows_{};
    std::array<bool, kMeters> staleRows_{};
    // Whether the meter's row was emptied by its last poll going unanswered.
    std::array<bool, kMeters> missedLastPoll_{};
    EnergyTab* energyTab_ = nullptr;
    DiagnosticsTab* diagnosticsTab_ = nullptr;
};

} // namespace mirv
