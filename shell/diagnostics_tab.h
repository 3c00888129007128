#pragma once

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
class MeterLink;
class SerialPort;

// The 通讯诊断 tab: the line's counters meter by meter and the frame monitor. It reads the
// link's counters and frame ring on the event thread, at most twice a second and only while
// it is shown, and tells the time by the link's clock.
class DiagnosticsTab : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 500;

    // `ports` are the ports whose opens and failures the summary adds up; the frames it saves
    // never go over the files `station` names.
    DiagnosticsTab(MeterLink& link, std::vector<const SerialPort*> ports, ProtectedFiles station,
                   Dialogs& dialogs, QWidget* parent = nullptr);

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
    int polledMeters() const;

    MeterLink& link_;
    std::vector<const SerialPort*> ports_;
    ProtectedFiles station_;
    Dialogs& dialogs_;
    QTimer refreshTimer_;
    bool paused_ = false;
    std::uint64_t shownPushed_ = ~0ULL;
    // The most characters a text of each counter column had.
    std::vector<qsizetype> longestTexts_;
    int shownFilter_ = -1;
};

} // namespace mirv
