#pragma once

#include <QStaticText>
#include <QWidget>

namespace mirv {

// One text cell of the readings board: a sunken box with its text from the left, clipped at
// the right; the whole text shows as the tool tip, and the context menu copies it. Cells are
// repainted many times a second, so they paint a plain frame and a prepared text rather than
// a styled line edit. Assistive tools read each cell as a static text (see board_cell.cpp).
class BoardCell : public QWidget {
    Q_OBJECT
  public:
    explicit BoardCell(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    QString text_;
    QStaticText shown_;
};

} // namespace mirv
