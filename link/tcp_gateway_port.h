#pragma once

#include "gateway_address.h"
#include "modbus_tcp_frame.h"
#include "serial_port.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

namespace mirv {

// How hard a gateway port tries to reach its gateway.
struct GatewayTiming {
    int attemptMs = 3000;         // one connection attempt at most
    int firstBackoffMs = 1000;    // the pause after the first attempt that failed
    int longestBackoffMs = 30000; // the pause doubles up to this
};

// The serial line of meters behind an RS-485 gateway on the network, over QTcpSocket. RTU
// over TCP passes the frames through unchanged; Modbus TCP sends each request with a
// transaction ID, the address as unit ID, and hands on only the answer of that transaction,
// in RTU form, so the link above reads both alike.
//
// Nothing here blocks: connecting runs on the event loop, bounded by timing.attemptMs. A lost
// connection is retried at once, then after pauses that double up to timing.longestBackoffMs;
// meanwhile writes fail and the link misses its meters as on an unplugged adapter.
class TcpGatewayPort : public QObject, public SerialPort {
    Q_OBJECT
  public:
    explicit TcpGatewayPort(QObject* parent = nullptr);
    ~TcpGatewayPort() override;

    // `url` is a gateway line such as "modbus-tcp://10.0.0.7:502". Connecting starts and goes
    // on in the background: a gateway that cannot be reached yet is no failure.
    Failure open(const std::string& url) override;
    void open(const GatewayAddress& address);
    // The settings are checked; the gateway's serial side keeps its own.
    Failure setSettings(const std::string& settings) override;
    void flushOutput() override {}
    void flushInput() override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> readAll() override;
    // The gateway takes requests and no meter answers: the connection may be half-open.
    void farEndSilent() override;
    void close();

    bool isOpen() const { return state_ != Closed; }
    bool connected() const { return state_ == Up; }
    const GatewayAddress& address() const { return address_; }

    GatewayTiming timing;
    // Raised when the gateway is reached (true) and when an attempt to reach it failed
    // (false), each only when it changes.
    std::function<void(bool)> connectionChanged;

  private:
    enum State { Closed, Connecting, Up, Waiting };

    void connectNow();
    void onConnected();
    void onSocketDown();
    void onReadyRead();
    void attemptFailed();
    void reconnectAtOnce();
    void report(bool up);

    QTcpSocket socket_;
    QTimer attemptTimer_;
    QTimer retryTimer_;
    GatewayAddress address_;
    State state_ = Closed;
    int failures_ = 0;
    std::optional<bool> reported_;
    std::uint16_t transaction_ = 0;
    ModbusTcpAnswers answers_;
    std::vector<std::uint8_t> received_;
};

} // namespace mirv
