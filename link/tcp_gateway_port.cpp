#include "tcp_gateway_port.h"

#include "line_settings.h"

#include <algorithm>

namespace mirv {

TcpGatewayPort::TcpGatewayPort(QObject* parent) : QObject(parent) {
    attemptTimer_.setSingleShot(true);
    retryTimer_.setSingleShot(true);
    connect(&attemptTimer_, &QTimer::timeout, this, [this] {
        if (state_ == Connecting)
            attemptFailed();
    });
    connect(&retryTimer_, &QTimer::timeout, this, &TcpGatewayPort::connectNow);
    connect(&socket_, &QTcpSocket::connected, this, &TcpGatewayPort::onConnected);
    connect(&socket_, &QTcpSocket::disconnected, this, &TcpGatewayPort::onSocketDown);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &TcpGatewayPort::onSocketDown);
    connect(&socket_, &QTcpSocket::readyRead, this, &TcpGatewayPort::onReadyRead);
}

TcpGatewayPort::~TcpGatewayPort() {
    // The socket goes last and says so; the timers it would reach are gone by then.
    socket_.disconnect(this);
}

Failure TcpGatewayPort::open(const std::string& url) {
    const auto address = parseGatewayLine(url);
    if (!address)
        return "Not a gateway: " + url;
    open(*address);
    return std::nullopt;
}

void TcpGatewayPort::open(const GatewayAddress& address) {
    close();
    address_ = address;
    failures_ = 0;
    reported_.reset();
    connectNow();
}

void TcpGatewayPort::close() {
    state_ = Closed;
    attemptTimer_.stop();
    retryTimer_.stop();
    socket_.abort();
    received_.clear();
    answers_.reset();
}

Failure TcpGatewayPort::setSettings(const std::string& settings) {
    if (!parseLineSettings(settings))
        return "Invalid line settings: " + settings;
    return std::nullopt;
}

void TcpGatewayPort::connectNow() {
    state_ = Waiting; // what the abort below reports is not this attempt's
    socket_.abort();
    received_.clear();
    answers_.reset();
    state_ = Connecting;
    attemptTimer_.start(timing.attemptMs);
    socket_.connectToHost(QString::fromStdString(address_.host), address_.port);
}

void TcpGatewayPort::onConnected() {
    if (state_ != Connecting)
        return;
    attemptTimer_.stop();
    state_ = Up;
    failures_ = 0;
    // Requests are a few bytes each: they go out at once, not after Nagle's wait.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    report(true);
}

void TcpGatewayPort::onSocketDown() {
    if (state_ == Connecting)
        attemptFailed();
    else if (state_ == Up)
        reconnectAtOnce();
}

void TcpGatewayPort::attemptFailed() {
    state_ = Waiting;
    attemptTimer_.stop();
    ++failures_;
    report(false);
    const int doublings = std::min(failures_ - 1, 16);
    const long long pause = static_cast<long long>(timing.firstBackoffMs) << doublings;
    retryTimer_.start(static_cast<int>(std::min<long long>(pause, timing.longestBackoffMs)));
}

void TcpGatewayPort::reconnectAtOnce() {
    state_ = Waiting;
    failures_ = 0;
    retryTimer_.start(0);
}

void TcpGatewayPort::farEndSilent() {
    if (state_ == Up)
        reconnectAtOnce();
}

void TcpGatewayPort::report(bool up) {
    if (reported_ == up)
        return;
    reported_ = up;
    if (connectionChanged)
        connectionChanged(up);
}

void TcpGatewayPort::onReadyRead() {
    const QByteArray data = socket_.readAll();
    if (state_ != Up || data.isEmpty())
        return;
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                          static_cast<std::size_t>(data.size()));
    if (address_.framing == GatewayAddress::RtuOverTcp) {
        received_.insert(received_.end(), bytes.begin(), bytes.end());
    } else if (!answers_.feed(bytes, received_)) {
        // Not Modbus TCP any more: the answers after this one cannot be found in the stream.
        reconnectAtOnce();
        return;
    }
    if (!received_.empty() && bytesArrived)
        bytesArrived();
}

void TcpGatewayPort::flushInput() {
    received_.clear();
}

bool TcpGatewayPort::write(std::span<const std::uint8_t> bytes) {
    if (state_ != Up)
        return false;
    if (address_.framing == GatewayAddress::ModbusTcp) {
        const std::uint16_t transaction = ++transaction_;
        const auto request = modbusTcpRequest(transaction, bytes);
        if (request.empty())
            return false;
        // A read's answer holds its byte count, then two bytes a register.
        const bool read = bytes[1] == 0x03 && bytes.size() == 8;
        const std::size_t answerLength = read ? 5 + 2 * std::size_t(bytes[4] << 8 | bytes[5]) : 0;
        answers_.expect(transaction, bytes[1], answerLength);
        const auto n = socket_.write(reinterpret_cast<const char*>(request.data()),
                                     static_cast<qint64>(request.size()));
        socket_.flush();
        return n == static_cast<qint64>(request.size());
    }
    const auto n = socket_.write(reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<qint64>(bytes.size()));
    socket_.flush();
    return n == static_cast<qint64>(bytes.size());
}

std::vector<std::uint8_t> TcpGatewayPort::readAll() {
    std::vector<std::uint8_t> out;
    out.swap(received_);
    return out;
}

} // namespace mirv
