// The readings board's cells. A poll changes one row and mostly a few of its cells: only the
// cells whose text changed are touched, and rows on the board tab the operator does not see
// wait until it is shown, since setting a line edit's text lays it out even when hidden.
#include "board_cell.h"
#include "main_window.h"

#include <QLabel>
#include <QTabWidget>

namespace mirv {

bool MainWindow::rowVisible(int n) const {
    const int tab = n <= 10 ? 0 : 1;
    return tabs->currentIndex() == tab && !isMinimized();
}

void MainWindow::showRow(int n) {
    if (!rowVisible(n)) {
        staleRows_[n - 1] = true;
        return;
    }
    staleRows_[n - 1] = false;
    const BoardRow& row = feed_->row(n);
    BoardRow& shown = shownRows_[n - 1];
    // Each changed cell asks for its own paint: the window paints them together on the next
    // turn of the event loop. (Repainting the page at once painted nothing, as the opaque
    // cells covered the whole region asked for.)
    for (int i = 0; i < kCells; ++i) {
        if (shown[i] == row[i])
            continue;
        shown[i] = row[i];
        boardCells[n - 1][i]->setText(QString::fromStdString(row[i]));
    }
    showRowMark(n);
}

// The row number tells a meter that does not answer (red) from a row that is not polled
// (greyed): both rows are empty, and their texts stay as they are.
void MainWindow::showRowMark(int n) {
    const MeterMark mark = feed_->mark(n);
    const bool polled = mark.polled;
    const bool silent = mark.silent;
    QLabel* number = meterNumbers[n - 1];
    if (number->isEnabled() != polled)
        number->setEnabled(polled);
    const QColor red(255, 0, 0);
    if (silent != (number->palette().color(QPalette::Active, QPalette::WindowText) == red)) {
        QPalette p;
        if (silent) {
            p = number->palette();
            p.setColor(QPalette::Active, QPalette::WindowText, red);
            p.setColor(QPalette::Inactive, QPalette::WindowText, red);
        }
        number->setPalette(p);
    }
}

void MainWindow::showStaleRows() {
    for (int n = 1; n <= kMeters; ++n)
        if (staleRows_[n - 1])
            showRow(n);
}

} // namespace mirv
