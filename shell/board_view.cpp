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
// (greyed): both rows are empty, and their texts stay as they are. Behind it, a meter's alarm
// that no one has acknowledged shows yellow, an acknowledged one that still stands light grey.
void MainWindow::showRowMark(int n) {
    const MeterMark mark = feed_->mark(n);
    QLabel* number = meterNumbers[n - 1];
    if (number->isEnabled() != mark.polled)
        number->setEnabled(mark.polled);
    const QColor red(255, 0, 0);
    const QColor behind = mark.alarm == MeterAlarm::Unacknowledged ? QColor(255, 255, 0)
                          : mark.alarm == MeterAlarm::Acknowledged ? QColor(210, 210, 210)
                                                                   : QColor();
    const QPalette& now = number->palette();
    const bool redNow = now.color(QPalette::Active, QPalette::WindowText) == red;
    const bool filledNow = number->autoFillBackground();
    if (mark.silent == redNow && behind.isValid() == filledNow &&
        (!filledNow || now.color(QPalette::Active, QPalette::Window) == behind))
        return;
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        if (mark.silent)
            p.setColor(group, QPalette::WindowText, red);
        if (behind.isValid())
            p.setColor(group, QPalette::Window, behind);
    }
    number->setAutoFillBackground(behind.isValid());
    number->setPalette(p);
}

void MainWindow::showStaleRows() {
    for (int n = 1; n <= kMeters; ++n)
        if (staleRows_[n - 1])
            showRow(n);
}

} // namespace mirv
