#pragma once

#include "mqtt_config.h"

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;

namespace mirv {

// Why the connection is not up, as the operator is told it: the broker cannot be reached (or
// the connection was lost), it refuses the login, the certificate does not check out on
// either side, or it refuses the connection for another reason.
enum class BrokerTrouble { None, Unreachable, LoginRefused, CertificateRefused, Refused };

// A connection to the broker kept up by a thread of its own, so that a broker that is down,
// slow or refusing never holds up the caller's thread: it connects, and after every failure
// waits (1 s, doubling up to a minute) and tries again. The station's status topic carries
// "online" (retained) while connected and "offline" as the last will. publish() may be called
// from any thread; it only queues the message for the connection's thread.
class BrokerSession {
  public:
    struct Events {
        // A connection was accepted (called on the session's thread).
        std::function<void()> connected;
        // What stands in the connection's way (None: it is up) and its state in one line;
        // called for every attempt, the caller says it once per change.
        std::function<void(BrokerTrouble, const std::string&)> state;
    };

    BrokerSession(const MqttConfig& config, std::string clientId, std::string statusTopic,
                  Events events);
    // Publishes "offline" and disconnects, when connected.
    ~BrokerSession();
    BrokerSession(const BrokerSession&) = delete;
    BrokerSession& operator=(const BrokerSession&) = delete;

    // Queues a message; false when there is no connection.
    bool publish(const std::string& topic, const QByteArray& payload, bool retain);
    // The broker as host:port.
    std::string where() const;

    std::chrono::milliseconds longestBackOff = std::chrono::seconds(60);

  private:
    void run();
    void attempt();
    bool waitBeforeRetry(std::chrono::milliseconds delay);
    void report(BrokerTrouble trouble, const std::string& text);

    static void onConnect(mosquitto*, void* self, int code);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    MqttConfig config_;
    std::string statusTopic_;
    Events events_;
    mosquitto* mosq_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> stopping_{false};
    // Set once the station says goodbye: a connection that ends is not tried again.
    std::atomic<bool> leaving_{false};
    bool attemptDone_ = false;
    // Set on the session's thread while an attempt runs.
    int refusal_ = 0;
    bool accepted_ = false;
    std::mutex errorMutex_;
    std::string lastError_; // libmosquitto's last error message, under errorMutex_
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

} // namespace mirv
