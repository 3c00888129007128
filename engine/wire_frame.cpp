#include "wire_frame.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace mirv::wire {

QByteArray encode(const QJsonObject& message) {
    if (!message.value(QStringLiteral("type")).isString())
        return {};
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    if (static_cast<std::size_t>(body.size()) > kMaxBodyBytes)
        return {};
    QByteArray bytes(kMagic, sizeof kMagic);
    char length[4];
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), length);
    bytes.append(length, 4);
    bytes.append(body);
    return bytes;
}

void Decoder::feed(QByteArrayView bytes) {
    if (error_ != Error::None)
        return;
    // What was given out goes once it is half the buffer: no copying per message.
    if (start_ > 0 && start_ * 2 >= static_cast<std::size_t>(buffer_.size())) {
        buffer_.remove(0, static_cast<qsizetype>(start_));
        start_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<QJsonObject> Decoder::fail(Error e) {
    error_ = e;
    buffer_.clear();
    start_ = 0;
    return std::nullopt;
}

std::optional<QJsonObject> Decoder::next() {
    if (error_ != Error::None)
        return std::nullopt;
    const std::size_t have = buffered();
    const char* at = buffer_.constData() + start_;
    // Garbage is refused at its first byte, not once a whole header came.
    if (std::memcmp(at, kMagic, std::min(have, sizeof kMagic)) != 0)
        return fail(Error::BadMagic);
    if (have < kHeaderBytes)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(at + 4);
    if (length > kMaxBodyBytes)
        return fail(Error::TooLong);
    if (have < kHeaderBytes + length)
        return std::nullopt;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray::fromRawData(at + kHeaderBytes, static_cast<qsizetype>(length)), &parseError);
    start_ += kHeaderBytes + length;
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return fail(Error::BadJson);
    QJsonObject message = doc.object();
    if (!message.value(QStringLiteral("type")).isString())
        return fail(Error::NoType);
    return message;
}

QString Decoder::errorText() const {
    switch (error_) {
    case Error::None:
        return {};
    case Error::BadMagic:
        return QStringLiteral("not a station message (bad magic)");
    case Error::TooLong:
        return QStringLiteral("message over the 1 MiB bound");
    case Error::BadJson:
        return QStringLiteral("message body is not a JSON object");
    case Error::NoType:
        return QStringLiteral("message without a type");
    }
    return {};
}

} // namespace mirv::wire
