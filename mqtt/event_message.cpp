#include "event_message.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace mirv {

QByteArray eventJson(const EventRow& event) {
    const auto text = [](const std::string& s) { return QString::fromStdString(s); };
    const QJsonObject json{
        {"local_time", text(event.localTime)},
        {"utc_time", text(event.utcTime)},
        {"meter", event.meter},
        {"kind", text(event.kind)},
        {"phase", text(event.phase)},
        {"text", text(event.text)},
        {"detail", text(event.detail)},
        {"user", text(event.user)},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

} // namespace mirv
