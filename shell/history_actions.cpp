// The query tab's buttons.
#include "history_query.h"
#include "main_window.h"
#include "twips.h"

#include <QLineEdit>
#include <QTableView>

namespace mirv {

QueryCriteria MainWindow::criteria() const {
    return {Text8->text().toStdString(), Text10->text().toStdString(), Text11->text().toStdString(),
            Text7->text().toStdString()};
}

void MainWindow::Command10_Click() {
    historyModel.setRows(queryHistory(databasePath().toStdString(), selectionFrom(criteria())));
    showGridColumns();
}

void MainWindow::showGridColumns() {
    for (int c = 0; c < HistoryRows::kColumns; ++c)
        DataGrid2->setColumnWidth(c, px(HistoryModel::widthTwips(c)));
}

} // namespace mirv
