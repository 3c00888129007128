#pragma once

#include "meter_names.h"

#include <QWidget>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace mirv {

class StationFeed;

// What the operator reads of an alarm's kind (通讯中断, 励磁报警, ...); empty for other kinds.
const char* alarmKindText(const std::string& kind);

// The 报警事件 tab: the station's alarms that are not normal, unacknowledged first, which the
// operator acknowledges one by one or all at once; below them the event journal by time,
// filtered by meter and period, read from the database.
class EventsTab : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMostEventsShown = 5000;

    EventsTab(StationFeed& feed, QString databasePath, QWidget* parent = nullptr);

    void showAlarms();
    void onAcknowledgeClicked();
    void onAcknowledgeAllClicked();
    void onQueryClicked();

    QTableWidget* alarmTable = nullptr;
    QPushButton* acknowledgeButton = nullptr;
    QPushButton* acknowledgeAllButton = nullptr;
    QLineEdit* fromField = nullptr;
    QLineEdit* toField = nullptr;
    QComboBox* meterFilter = nullptr;
    QPushButton* queryButton = nullptr;
    QTableWidget* journalTable = nullptr;

  private:
    // The meter filter's choices: the board's numbers and the named meters, each by its label.
    void showMeterChoices();

    StationFeed& feed_;
    MeterNames names_;
    QString databasePath_;
};

} // namespace mirv
