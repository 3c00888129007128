#include "events_tab.h"

#include "database.h"
#include "event_journal.h"
#include "meter_plan_reader.h"
#include "station_feed.h"

#include <QComboBox>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace mirv {

namespace {

// The alarm's own words, and the order they are listed in: what needs the operator first.
struct StateShown {
    const char* state;
    const char* text;
};
constexpr StateShown kStates[] = {
    {"active-unacknowledged", "报警中,未确认"},
    {"returned-unacknowledged", "已恢复,未确认"},
    {"active-acknowledged", "报警中,已确认"},
};

int stateRank(const std::string& state) {
    for (int i = 0; i < 3; ++i)
        if (state == kStates[i].state)
            return i;
    return 3;
}

QTableWidget* table(const QStringList& headers, QWidget* parent) {
    auto* t = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

// The meter an alarm row stands for, whatever its label reads.
constexpr int kMeterRole = Qt::UserRole + 1;

void setRow(QTableWidget* t, int r, const QStringList& texts) {
    for (int c = 0; c < texts.size(); ++c)
        t->setItem(r, c, new QTableWidgetItem(texts[c]));
}

} // namespace

const char* alarmKindText(const std::string& kind) {
    static const std::pair<const char*, const char*> texts[] = {
        {"silent", "通讯中断"},          {"alarm-excite", "励磁报警"},
        {"alarm-electrode", "电极报警"}, {"alarm-empty-pipe", "空管报警"},
        {"alarm-upper", "上限报警"},     {"alarm-lower", "下限报警"},
    };
    for (const auto& [name, text] : texts)
        if (kind == name)
            return text;
    return "";
}

EventsTab::EventsTab(StationFeed& feed, QString databasePath, QWidget* parent)
    : QWidget(parent), feed_(feed), databasePath_(std::move(databasePath)) {
    auto* layout = new QVBoxLayout(this);
    alarmTable = table({QStringLiteral("仪表"), QStringLiteral("报警"), QStringLiteral("状态"),
                        QStringLiteral("开始时间"), QStringLiteral("重复次数"),
                        QStringLiteral("确认人"), QStringLiteral("确认时间")},
                       this);
    alarmTable->setObjectName(QStringLiteral("alarmTable"));
    layout->addWidget(alarmTable, 2);
    auto* ackRow = new QHBoxLayout;
    acknowledgeButton = new QPushButton(QStringLiteral("确认所选报警"), this);
    acknowledgeAllButton = new QPushButton(QStringLiteral("全部确认"), this);
    ackRow->addWidget(acknowledgeButton);
    ackRow->addWidget(acknowledgeAllButton);
    ackRow->addStretch();
    layout->addLayout(ackRow);

    auto* queryRow = new QHBoxLayout;
    const QDate today = QDate::currentDate();
    fromField = new QLineEdit(today.toString(QStringLiteral("yyyy-MM-dd")), this);
    toField = new QLineEdit(today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")), this);
    meterFilter = new QComboBox(this);
    meterFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    names_ = readJournalMeterNames(databasePath_.toStdString());
    showMeterChoices();
    queryButton = new QPushButton(QStringLiteral("查询"), this);
    queryRow->addWidget(new QLabel(QStringLiteral("日期："), this));
    queryRow->addWidget(fromField);
    queryRow->addWidget(new QLabel(QStringLiteral("至"), this));
    queryRow->addWidget(toField);
    queryRow->addWidget(new QLabel(QStringLiteral("仪表编号："), this));
    queryRow->addWidget(meterFilter);
    queryRow->addWidget(queryButton);
    queryRow->addStretch();
    layout->addLayout(queryRow);
    journalTable = table({QStringLiteral("时间"), QStringLiteral("仪表"), QStringLiteral("事件"),
                          QStringLiteral("说明"), QStringLiteral("操作人")},
                         this);
    journalTable->setObjectName(QStringLiteral("journalTable"));
    layout->addWidget(journalTable, 3);

    connect(&feed_, &StationFeed::alarmsChanged, this, &EventsTab::showAlarms);
    connect(acknowledgeButton, &QPushButton::clicked, this, &EventsTab::onAcknowledgeClicked);
    connect(acknowledgeAllButton, &QPushButton::clicked, this, &EventsTab::onAcknowledgeAllClicked);
    connect(queryButton, &QPushButton::clicked, this, &EventsTab::onQueryClicked);
    showAlarms();
    onQueryClicked();
}

void EventsTab::showMeterChoices() {
    const int chosen = meterFilter->currentIndex() < 0 ? 0 : meterFilter->currentData().toInt();
    std::vector<int> meters = names_.addresses();
    for (int m = 1; m <= 20; ++m)
        meters.push_back(m);
    std::sort(meters.begin(), meters.end());
    meters.erase(std::unique(meters.begin(), meters.end()), meters.end());
    meterFilter->clear();
    meterFilter->addItem(QStringLiteral("全部"), 0);
    for (const int m : meters)
        meterFilter->addItem(QString::fromStdString(names_.label(m)), m);
    meterFilter->setCurrentIndex(std::max(0, meterFilter->findData(chosen)));
}

void EventsTab::showAlarms() {
    std::vector<AlarmRow> alarms = feed_.alarms();
    std::stable_sort(alarms.begin(), alarms.end(), [](const AlarmRow& a, const AlarmRow& b) {
        return stateRank(a.state) < stateRank(b.state);
    });
    alarmTable->setRowCount(static_cast<int>(alarms.size()));
    for (int r = 0; r < static_cast<int>(alarms.size()); ++r) {
        const AlarmRow& a = alarms[static_cast<std::size_t>(r)];
        const int rank = stateRank(a.state);
        setRow(alarmTable, r,
               {QString::fromStdString(names_.label(a.meter)),
                QString::fromUtf8(alarmKindText(a.kind)),
                rank < 3 ? QString::fromUtf8(kStates[rank].text) : QString::fromStdString(a.state),
                QString::fromStdString(a.began), QString::number(a.repeats),
                QString::fromStdString(a.ackUser), QString::fromStdString(a.ackTime)});
        alarmTable->item(r, 0)->setData(Qt::UserRole, QString::fromStdString(a.kind));
        alarmTable->item(r, 0)->setData(kMeterRole, a.meter);
    }
}

void EventsTab::onAcknowledgeClicked() {
    const int r = alarmTable->currentRow();
    if (r < 0 || !alarmTable->item(r, 0))
        return;
    feed_.acknowledge(alarmTable->item(r, 0)->data(kMeterRole).toInt(),
                      alarmTable->item(r, 0)->data(Qt::UserRole).toString().toStdString());
}

void EventsTab::onAcknowledgeAllClicked() {
    feed_.acknowledge(0, {});
}

// The journal of the days from the first date up to the second (a date alone as the upper bound
// sorts before every time of that day, so the day itself is not included).
void EventsTab::onQueryClicked() {
    const QDate from = QDate::fromString(fromField->text().trimmed(), QStringLiteral("yyyy-MM-dd"));
    const QDate to = QDate::fromString(toField->text().trimmed(), QStringLiteral("yyyy-MM-dd"));
    std::vector<EventRow> events;
    {
        Database db(databasePath_.toStdString(), 1000);
        names_ = readJournalMeterNames(db);
        showMeterChoices();
        readEvents(db, from.isValid() ? from.toString(Qt::ISODate).toStdString() : "",
                   to.isValid() ? to.toString(Qt::ISODate).toStdString() : "",
                   meterFilter->currentData().toInt(), events);
    }
    const std::size_t first =
        events.size() > kMostEventsShown ? events.size() - kMostEventsShown : 0;
    journalTable->setRowCount(static_cast<int>(events.size() - first));
    for (std::size_t i = first; i < events.size(); ++i) {
        const EventRow& e = events[i];
        setRow(journalTable, static_cast<int>(i - first),
               {QString::fromStdString(e.localTime),
                e.meter ? QString::fromStdString(names_.label(e.meter)) : QString(),
                QString::fromStdString(e.text), QString::fromStdString(e.detail),
                QString::fromStdString(e.user)});
    }
    journalTable->scrollToBottom();
}

} // namespace mirv
