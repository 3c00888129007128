#pragma once

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

namespace mirv::test {

// A port of 127.0.0.1 that nothing listens on right now.
inline int freeTcpPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Waits until something accepts connections on 127.0.0.1:port.
inline bool waitListening(int port, int timeoutMs = 5000) {
    return QTest::qWaitFor(
        [port] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            return s.waitForConnected(100);
        },
        timeoutMs);
}

// The longest time between two turns of the event loop while it lives, seen by a 5 ms timer.
class StallMeter {
  public:
    StallMeter() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { worstMs_ = std::max(worstMs_, clock_.restart()); });
        clock_.start();
        timer_.start();
    }
    qint64 worstMs() const { return worstMs_; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 worstMs_ = 0;
};

} // namespace mirv::test
