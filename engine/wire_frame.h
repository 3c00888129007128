#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>
#include <cstddef>
#include <optional>

namespace mirv::wire {

// A message on the station's local socket: the 4 bytes "MIRV", its length as 4 bytes big-endian,
// then that many bytes of a compact JSON object whose "type" names what it is.
inline constexpr char kMagic[4] = {'M', 'I', 'R', 'V'};
inline constexpr std::size_t kHeaderBytes = 8;
inline constexpr std::size_t kMaxBodyBytes = 1 << 20;

// The message's bytes; empty when its JSON is over kMaxBodyBytes or has no "type".
QByteArray encode(const QJsonObject& message);

// Takes the bytes as they come, in chunks of any size, and gives the whole messages. The first
// thing wrong ends it: no message comes after an error.
class Decoder {
  public:
    enum class Error { None, BadMagic, TooLong, BadJson, NoType };

    void feed(QByteArrayView bytes);
    // The next whole message, or nothing while its bytes are still coming or after an error.
    std::optional<QJsonObject> next();
    Error error() const { return error_; }
    QString errorText() const;
    // Bytes taken but not yet given out as messages.
    std::size_t buffered() const { return static_cast<std::size_t>(buffer_.size()) - start_; }

  private:
    std::optional<QJsonObject> fail(Error e);

    QByteArray buffer_;
    std::size_t start_ = 0;
    Error error_ = Error::None;
};

} // namespace mirv::wire
