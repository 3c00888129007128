#include "board_cell.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGlyphRun>
#include <QHash>
#include <QMenu>
#include <QPainter>
#include <QRawFont>
#include <array>
#include <memory>

namespace mirv {

namespace {

constexpr int kTextMargin = 3;

// The glyphs numbers are made of, looked up once per font, so that a reading is drawn from
// glyph indexes and advances without shaping its text on every change.
class NumberGlyphs {
  public:
    explicit NumberGlyphs(const QFont& font) : font_(QRawFont::fromFont(font)) {
        const QString chars = QStringLiteral("0123456789.-");
        const QList<quint32> indexes = font_.glyphIndexesForString(chars);
        const QList<QPointF> advances = font_.advancesForGlyphIndexes(indexes);
        ok_ = font_.isValid() && indexes.size() == chars.size() && !indexes.contains(0);
        for (qsizetype i = 0; ok_ && i < chars.size(); ++i) {
            const char c = static_cast<char>(chars[i].unicode());
            index_[static_cast<unsigned char>(c)] = indexes[i];
            advance_[static_cast<unsigned char>(c)] = advances[i].x();
        }
    }

    // The text as a run of glyphs starting at `origin` (on the baseline), when it is a number.
    bool run(const QString& text, QPointF origin, QGlyphRun& out) const {
        if (!ok_)
            return false;
        QList<quint32> glyphs;
        QList<QPointF> positions;
        glyphs.reserve(text.size());
        positions.reserve(text.size());
        qreal x = origin.x();
        for (QChar ch : text) {
            const char16_t c = ch.unicode();
            if (c >= 128 || index_[c] == 0)
                return false;
            glyphs.append(index_[c]);
            positions.append(QPointF(x, origin.y()));
            x += advance_[c];
        }
        out.setRawFont(font_);
        out.setGlyphIndexes(glyphs);
        out.setPositions(positions);
        return true;
    }

    static const NumberGlyphs& of(const QFont& font) {
        static QHash<QString, std::shared_ptr<NumberGlyphs>> cache;
        auto& glyphs = cache[font.key()];
        if (!glyphs)
            glyphs = std::make_shared<NumberGlyphs>(font);
        return *glyphs;
    }

  private:
    QRawFont font_;
    std::array<quint32, 128> index_{};
    std::array<qreal, 128> advance_{};
    bool ok_ = false;
};

// What assistive tools read of a cell: a static text whose name and value are the shown text.
class BoardCellAccessible : public QAccessibleWidget {
  public:
    explicit BoardCellAccessible(BoardCell* cell)
        : QAccessibleWidget(cell, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name || t == QAccessible::Value)
            return static_cast<const BoardCell*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* boardCellInterface(const QString& className, QObject* object) {
    if (className == QLatin1String(BoardCell::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new BoardCellAccessible(static_cast<BoardCell*>(object));
    return nullptr;
}

} // namespace

BoardCell::BoardCell(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(boardCellInterface);
        return true;
    }();
    (void)factoryInstalled;
    setAttribute(Qt::WA_OpaquePaintEvent);
    shown_.setTextFormat(Qt::PlainText);
    shown_.setPerformanceHint(QStaticText::AggressiveCaching);
}

void BoardCell::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    shown_.setText(text);
    setToolTip(text);
    update();
    // Told as a name change: Qt's bus bridge passes a value change on only for numeric values.
    if (QAccessible::isActive()) {
        QAccessibleEvent nameChanged(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&nameChanged);
    }
}

void BoardCell::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width(), h = height();
    // A sunken box: dark edges at the top and left, light ones at the bottom and right.
    p.fillRect(1, 1, w - 2, h - 2, palette().base());
    p.fillRect(0, 0, w, 1, palette().dark());
    p.fillRect(0, 0, 1, h, palette().dark());
    p.fillRect(0, h - 1, w, 1, palette().midlight());
    p.fillRect(w - 1, 0, 1, h, palette().midlight());
    if (text_.isEmpty())
        return;
    p.setClipRect(1, 1, w - 2, h - 2);
    p.setPen(palette().color(QPalette::Text));
    const QFontMetricsF metrics(font());
    const qreal top = (h - metrics.height()) / 2.0;
    QGlyphRun run;
    if (NumberGlyphs::of(font()).run(text_, QPointF(kTextMargin, top + metrics.ascent()), run))
        p.drawGlyphRun(QPointF(0, 0), run);
    else
        p.drawStaticText(QPointF(kTextMargin, top), shown_);
}

void BoardCell::contextMenuEvent(QContextMenuEvent* event) {
    if (text_.isEmpty())
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("复制"), this,
                   [this] { QApplication::clipboard()->setText(text_); });
    menu.exec(event->globalPos());
}

} // namespace mirv
