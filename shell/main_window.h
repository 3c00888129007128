#pragma once

#include "history_model.h"
#include "meter_link.h"
#include "qt_serial_port.h"
#include "query_criteria.h"
#include "readings_board.h"
#include "record_logger.h"
#include "record_tick.h"
#include "report_export.h"
#include "settings_row.h"

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

class Dialogs;

// The station's one window. It owns the link, the board and the timers for the program's
// lifetime and dispatches the timer ticks, the port's bytes and the buttons to them.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    MainWindow(const QString& programDir, Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    QString databasePath() const;

    void Form_Load();
    void Form_Unload();
    void Command4_Click();
    void end_Click();
    void Command10_Click();
    void Command9_Click();
    void Command1_Click();

    // The query tab's four criteria fields as they stand.
    QueryCriteria criteria() const;

    // The controls, by the names the operator's manual and the tests use.
    QTabWidget* SSTab1 = nullptr;
    QLabel* Label9 = nullptr;
    QPushButton* end = nullptr;
    std::array<std::array<QLineEdit*, kCells>, kMeters> kt{};
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QPushButton* Command4 = nullptr;
    QLineEdit* Text10 = nullptr;
    QLineEdit* Text11 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text7 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command9 = nullptr;
    QTableView* DataGrid2 = nullptr;

    QTimer Timer1;
    QTimer Timer2;

    QtSerialPort MSComm1;
    ReadingsBoard board;
    MeterLink link{MSComm1, board};
    RecordTick recordTick;
    std::unique_ptr<RecordLogger> logger;
    HistoryModel historyModel;
    // How exports start the spreadsheet application, and the latest export while it runs.
    ReportExport::Office office;
    QPointer<ReportExport> lastExport;

    // The port number the port holds; 1 until start-up sets another.
    int CommPort = 1;
    // Working copies taken at start-up.
    SettingsField PortNo;
    QString SendInterval;
    QString BaudText;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildWindow();
    void buildBoardTab(int tab);
    void buildQueryTab();
    void buildSettingsTab();
    void showRow(int n);
    void showGridColumns();
    void Timer1_Timer();
    void Timer2_Timer();

    QString programDir_;
    Dialogs& dialogs_;
};

} // namespace mirv
