// The query tab's buttons.
#include "dialogs.h"
#include "history_columns.h"
#include "history_query.h"
#include "main_window.h"
#include "meter_field.h"
#include "meter_plan_reader.h"
#include "operator_name.h"
#include "purge.h"
#include "twips.h"

#include <QLineEdit>
#include <QTableView>

namespace mirv {

QueryCriteria MainWindow::criteria() const {
    return {queryNames_.meterOf(meterField->text().toStdString()), fromField->text().toStdString(),
            toField->text().toStdString(), stepField->text().toStdString()};
}

void MainWindow::onQueryClicked() {
    offerQueryMeters(); // the names as they are now, for a label in the meter field
    historyModel.select(databasePath().toStdString(), selectionFrom(criteria()));
    showGridColumns();
}

void MainWindow::onExportClicked() {
    offerQueryMeters();
    // The selection is the one the criteria give now, whatever the grid shows.
    auto* report = new ReportExport(programDir_ + QStringLiteral("/MirvReport.xls"),
                                    databasePath().toStdString(), criteria(), office, this);
    connect(report, &ReportExport::finished, this, [this, report](int rows, bool moreThanFit) {
        report->deleteLater();
        if (moreThanFit)
            dialogs_.message(QStringLiteral("记录数超过表格最大行数,只导出了前") +
                             QString::number(rows) + QStringLiteral("条记录!"));
    });
    lastExport = report;
    report->start();
}

void MainWindow::onPurgeClicked() {
    if (!dialogs_.askYesNo(QString(), QStringLiteral("请确认删除全部历史记录数据?")))
        return;
    const PurgeResult result = purgeHistory(databasePath().toStdString(), operatorName());
    if (!result.opened)
        return; // nothing deleted; the grid stays as it was
    if (result.failure) {
        // The rows are still there, so the grid keeps showing them.
        dialogs_.message(QStringLiteral("删除历史记录数据失败!\r\n") +
                         QString::fromStdString(*result.failure));
        return;
    }
    historyModel.clear();
    showGridColumns();
}

void MainWindow::offerQueryMeters() {
    queryNames_ = readMeterNames(databasePath().toStdString());
    offerMeterLabels(meterField, queryNames_);
}

void MainWindow::showGridColumns() {
    // A meter's name beside its number needs a wider column than the number alone.
    constexpr int kNamedMeterTwips = 2000;
    for (int c = 0; c < HistoryRows::kColumns; ++c)
        historyGrid->setColumnWidth(c,
                                    px(c == kMeterIdColumn && !historyModel.meterNames().empty()
                                           ? std::max(HistoryModel::widthTwips(c), kNamedMeterTwips)
                                           : HistoryModel::widthTwips(c)));
}

} // namespace mirv
