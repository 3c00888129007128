// The window's controls, their texts and their places.
#include "board_cell.h"
#include "energy_tab.h"
#include "main_window.h"
#include "twips.h"
#include "window_icon.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace mirv {

namespace {

// Controls on a tab page are given in twips from the tab control's top; the page itself
// starts below the tab bar.
constexpr int kTabBarTwips = 360;

constexpr int kCellHeight = 375;

struct Column {
    Cell cell;
    int left;
    int width;
    const char* header;
};

// Left to right; the status is the rightmost column.
constexpr Column kColumns[] = {
    {FlowRateCell, 1320, 1140, "瞬时流量"},     {FlowSpeedCell, 2520, 1020, "流速"},
    {InletTempCell, 3600, 1020, "入口温度"},    {OutletTempCell, 4680, 1020, "出口温度"},
    {ForwardTotalCell, 5760, 1380, "正向累积"}, {ReverseTotalCell, 7200, 1260, "反向累积"},
    {HeatPowerCell, 8520, 1020, "瞬时热量"},    {ColdPowerCell, 9600, 1020, "瞬时冷量"},
    {HeatTotalCell, 10680, 1380, "累积热量"},   {ColdTotalCell, 12120, 1380, "累积冷量"},
    {StatusCell, 13560, 2100, "报警状态"},
};

constexpr int kTab1RowTops[] = {1200, 1680, 2175, 2655, 3150, 3630, 4110, 4605, 5085, 5580};

QLabel* label(QWidget* parent, const QString& text, int left, int top, int width,
              int height = 255) {
    auto* l = new QLabel(text, parent);
    placeTwips(l, left, top - kTabBarTwips, width, height);
    return l;
}

QLineEdit* textBox(QWidget* parent, const QString& text, int left, int top, int width) {
    auto* e = new QLineEdit(text, parent);
    placeTwips(e, left, top - kTabBarTwips, width, kCellHeight);
    return e;
}

QComboBox* comboBox(QWidget* parent, const QStringList& items, int left, int top, int width) {
    auto* c = new QComboBox(parent);
    c->setEditable(true);
    // What the operator types stays a text, never a new list item.
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    // An editable combo box selects its first item when filled; it starts with no text.
    c->setCurrentIndex(-1);
    placeTwips(c, left, top - kTabBarTwips, width, kCellHeight);
    return c;
}

QPushButton* button(QWidget* parent, const QString& text, int left, int top, int width,
                    int height = 375) {
    auto* b = new QPushButton(text, parent);
    placeTwips(b, left, top - kTabBarTwips, width, height);
    return b;
}

} // namespace

void MainWindow::buildWindow() {
    setWindowTitle(QStringLiteral("电磁冷热量MODBUS-RTU Ver3.0"));
    setWindowIcon(stationIcon());
    setFixedSize(px(16710), px(7680));
    // No Close command: the program ends through Save, Exit or the session ending.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowSystemMenuHint);

    tabs = new QTabWidget(this);
    placeTwips(tabs, 0, 0, 16695, 6735);
    for (const char* caption : {"仪表数据1-10", "仪表数据11-20", "采集数据查询", "系统设置"})
        tabs->addTab(new QWidget, QString::fromUtf8(caption));
    buildBoardTab(0);
    buildBoardTab(1);
    buildQueryTab();
    buildSettingsTab();
    // The energy tab and its chart are made when the operator first opens the tab: a station
    // that only polls does not carry them.
    auto* energyPage = new QWidget;
    auto* energyLayout = new QVBoxLayout(energyPage);
    energyLayout->setContentsMargins(0, 0, 0, 0);
    tabs->addTab(energyPage, QStringLiteral("能耗与趋势"));
    // The line's diagnostics likewise, made when first opened.
    auto* diagnosticsPage = new QWidget;
    auto* diagnosticsLayout = new QVBoxLayout(diagnosticsPage);
    diagnosticsLayout->setContentsMargins(0, 0, 0, 0);
    tabs->addTab(diagnosticsPage, QStringLiteral("通讯诊断"));
    // The alarms and the event journal likewise.
    auto* eventsPage = new QWidget;
    auto* eventsLayout = new QVBoxLayout(eventsPage);
    eventsLayout->setContentsMargins(0, 0, 0, 0);
    tabs->addTab(eventsPage, QStringLiteral("报警事件"));

    messageLine = new QLabel(this);
    placeTwips(messageLine, 3840, 7080, 3975, 255);
    QPalette red = messageLine->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    messageLine->setPalette(red);

    exitButton = new QPushButton(QStringLiteral("退出"), this);
    placeTwips(exitButton, 12000, 6960, 1215, 495);
    setTabOrder(exitButton, tabs);
}

void MainWindow::buildBoardTab(int tab) {
    QWidget* page = tabs->widget(tab);
    const int headerTop = tab == 0 ? 780 : 840;
    for (const Column& c : kColumns) {
        QLabel* header = label(page, QString::fromUtf8(c.header), c.left, headerTop, c.width);
        header->setAlignment(Qt::AlignCenter);
    }
    for (int r = 0; r < 10; ++r) {
        const int n = tab * 10 + r + 1;
        const int top = tab == 0 ? 1140 + 480 * r : kTab1RowTops[r];
        meterNumbers[n - 1] = label(page, QString::number(n), 960, top + 60, 330);
        meterNumbers[n - 1]->setObjectName(QStringLiteral("meterNumber%1").arg(n - 1));
        meterNames[n - 1] = label(page, QString(), 60, top + 60, 880);
        meterNames[n - 1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        meterNames[n - 1]->setObjectName(QStringLiteral("meterName%1").arg(n - 1));
        for (const Column& c : kColumns) {
            auto* cell = new BoardCell(page);
            placeTwips(cell, c.left, top - kTabBarTwips, c.width, kCellHeight);
            cell->setObjectName(QStringLiteral("cell%1_%2").arg(n).arg(c.cell));
            // Read out with the cell's text: which meter and which reading it is.
            cell->setAccessibleDescription(
                QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(c.header)));
            boardCells[n - 1][c.cell] = cell;
        }
    }
}

void MainWindow::buildQueryTab() {
    QWidget* page = tabs->widget(2);
    const int top = 600;
    label(page, QStringLiteral("日期："), 120, top + 60, 720);
    fromField = textBox(page, QString(), 840, top, 1560);
    label(page, QStringLiteral("至"), 2520, top + 60, 300);
    toField = textBox(page, QString(), 2880, top, 1560);
    label(page, QStringLiteral("仪表编号："), 4680, top + 60, 1200);
    meterField = textBox(page, QStringLiteral("全部"), 5880, top, 1080);
    label(page, QStringLiteral("时间间隔"), 7200, top + 60, 1080);
    stepField = textBox(page, QStringLiteral("10"), 8280, top, 720);
    label(page, QStringLiteral("分钟"), 9060, top + 60, 600);
    queryButton = button(page, QStringLiteral("查询"), 9960, top - 60, 1215, 495);
    exportButton = button(page, QStringLiteral("导出EXCEL"), 11400, top - 60, 1455, 495);
    purgeButton = button(page, QStringLiteral("删除全部数据"), 13080, top - 60, 1695, 495);

    historyGrid = new QTableView(page);
    placeTwips(historyGrid, 120, 1200 - kTabBarTwips, 16455, 5295);
    historyGrid->setFont(QFont(QStringLiteral("宋体"), 9));
    historyGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    historyGrid->setModel(&historyModel);
    showGridColumns();
    historyGrid->verticalHeader()->setDefaultSectionSize(px(285));
}

void MainWindow::buildSettingsTab() {
    QWidget* page = tabs->widget(3);
    const int row1 = 960, row2 = 1800, row3 = 2760;
    label(page, QStringLiteral("发送间隔:"), 600, row1 + 60, 1080);
    pollIntervalField = textBox(page, QStringLiteral("2000"), 1740, row1, 1080);
    label(page, QStringLiteral("毫秒"), 2880, row1 + 60, 600);
    label(page, QStringLiteral("当前com端口:"), 4200, row1 + 60, 1440);
    QStringList ports;
    for (int i = 1; i <= 10; ++i)
        ports << QStringLiteral("com%1").arg(i);
    portBox = comboBox(page, ports, 5700, row1, 1320);
    label(page, QStringLiteral("通讯速率:"), 7560, row1 + 60, 1080);
    baudBox =
        comboBox(page, {"19200", "14400", "9600", "4800", "2400", "1200", "600"}, 8700, row1, 1320);

    label(page, QStringLiteral("当前仪表数:"), 600, row2 + 60, 1320);
    QStringList counts;
    for (int i = 1; i <= 20; ++i)
        counts << QString::number(i);
    meterCountBox = comboBox(page, counts, 1980, row2, 1080);
    label(page, QStringLiteral("本地数据记录时间:"), 4200, row2 + 60, 2040);
    recordIntervalField = textBox(page, QString(), 6300, row2, 720);
    label(page, QStringLiteral("分钟"), 7080, row2 + 60, 600);

    saveButton = button(page, QStringLiteral("保存"), 4200, row3, 1215, 495);

    // Each board row's meter: its address, its kind of meter (a profile), its name and whether
    // it is polled. A row left without an address is the meter at the row's number, of the
    // default kind.
    label(page, QStringLiteral("仪表地址与类型:"), 600, 3480, 2040);
    meterTable = new QTableWidget(kMeters, 4, page);
    meterTable->setObjectName(QStringLiteral("meterTable"));
    meterTable->setHorizontalHeaderLabels({QStringLiteral("地址"), QStringLiteral("类型"),
                                           QStringLiteral("名称"), QStringLiteral("轮询")});
    placeTwips(meterTable, 600, 3780 - kTabBarTwips, 9000, 2880);
    meterTable->horizontalHeader()->setStretchLastSection(true);
    meterTable->setColumnWidth(0, px(900));
    meterTable->setColumnWidth(1, px(2800));
    meterTable->setColumnWidth(2, px(3000));
}

} // namespace mirv
