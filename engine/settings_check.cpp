#include "settings_check.h"

#include "leading_number.h"

#include <QRegularExpression>
#include <QString>
#include <algorithm>

namespace mirv {

bool polledRow(const std::string& meterCount, int meter) {
    return meter <= std::max(1.0, leadingNumber(meterCount));
}

std::optional<long long> wholeMilliseconds(const std::string& text) {
    static const QRegularExpression whole(QStringLiteral("^\\s*[+-]?\\d{1,18}\\s*$"));
    const QString t = QString::fromStdString(text);
    if (!whole.match(t).hasMatch())
        return std::nullopt;
    return t.trimmed().toLongLong();
}

std::string refusedPollInterval(const std::string& text) {
    bool isNumber = false;
    const double value = QString::fromStdString(text).trimmed().toDouble(&isNumber);
    if (isNumber && value >= 200 && value < 65535)
        return {};
    return "发送间隔必须输入大于200的数字且小于65535";
}

} // namespace mirv
