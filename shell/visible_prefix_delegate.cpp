#include "visible_prefix_delegate.h"

#include <QFontMetrics>
#include <algorithm>

namespace mirv {

namespace {

// The narrowest advance among the characters a monitor cell shows.
int narrowestAdvance(const QFontMetrics& metrics) {
    int narrowest = metrics.horizontalAdvance(QLatin1Char(' '));
    for (const char c : "0123456789ABCDEF-")
        if (c)
            narrowest = std::min(narrowest, metrics.horizontalAdvance(QLatin1Char(c)));
    return std::max(narrowest, 1);
}

} // namespace

void VisiblePrefixDelegate::initStyleOption(QStyleOptionViewItem* option,
                                            const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const int width = option->rect.width();
    if (width <= 0)
        return;
    // More characters than this cannot fit, so the cut text is still elided where the whole
    // one would be.
    const qsizetype fitting = width / narrowestAdvance(option->fontMetrics) + 2;
    if (option->text.size() > fitting)
        option->text.truncate(fitting);
}

} // namespace mirv
