#pragma once

#include "line_readout.h"
#include "protected_files.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class QTableWidgetItem;

namespace mirv {

class Dialogs;
class FrameMonitorModel;
class StationFeed;

// The 通讯诊断 tab: the line's counters read by read, each row naming its meter, profile and
// read, and the frame monitor. It reads the
// station's counters and frames at most twice a second and only while it is shown, and tells
// the time by the engine's clock.
class DiagnosticsTab : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 500;

    // The frames it saves never go over the files `station` names.
    DiagnosticsTab(StationFeed& feed, ProtectedFiles station, Dialogs& dialogs,
                   QWidget* parent = nullptr);

    // The save dialog: caption, suggested file name and filter in, the chosen path out (empty
    // when the operator cancelled). Tests answer it.
    std::function<QString(const QString& caption, const QString& suggested, const QString& filter)>
        askSavePath;

    void refresh();
    void onResetClicked();
    void onPauseClicked();
    void onSaveClicked();

    QLineEdit* lineSummary = nullptr;
    QTableWidget* meterTable = nullptr;
    QPushButton* resetButton = nullptr;
    QPushButton* pauseButton = nullptr;
    QComboBox* meterFilter = nullptr;
    QPushButton* saveButton = nullptr;
    QLabel* statusLine = nullptr;
    QTableView* monitorView = nullptr;
    FrameMonitorModel* monitor = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void buildControls();
    void showCounters();
    void showFrames();
    void showText(QTableWidgetItem* item, const QString& text);
    std::vector<PolledRead> shownReads() const;

    StationFeed& feed_;
    LineReadout readout_;
    ProtectedFiles station_;
    Dialogs& dialogs_;
    QTimer refreshTimer_;
    bool paused_ = false;
    std::uint64_t shownPushed_ = ~0ULL;
    // The most characters a text of each counter column had.
    std::vector<qsizetype> longestTexts_;
    int shownFilter_ = -1;
    // The addresses the meter filter offers besides 全部.
    std::vector<int> filterAddresses_;
};

} // namespace mirv
