#include "fonts.h"

#include <QFont>
#include <QStringList>

namespace mirv {

void installFontSubstitutions() {
    const QStringList cjk{QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                          QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                          QStringLiteral("Droid Sans Fallback")};
    for (const char* name : {"宋体", "SimSun", "新宋体"})
        QFont::insertSubstitutions(QString::fromUtf8(name), cjk);
}

} // namespace mirv
