#include "broker_session.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace mirv {

namespace {

constexpr int kKeepAliveSeconds = 20;
constexpr int kLoopTimeoutMs = 200;
const QByteArray kOnline = "online";
const QByteArray kOffline = "offline";

std::once_flag libraryReady;

const char* orNull(const std::string& s) {
    return s.empty() ? nullptr : s.c_str();
}

} // namespace

BrokerSession::BrokerSession(const MqttConfig& config, std::string clientId,
                             std::string statusTopic, Events events)
    : config_(config), statusTopic_(std::move(statusTopic)), events_(std::move(events)) {
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(clientId.c_str(), true, this);
    mosquitto_threaded_set(mosq_, true);
    if (!config_.user.empty())
        mosquitto_username_pw_set(mosq_, config_.user.c_str(), orNull(config_.password));
    mosquitto_will_set(mosq_, statusTopic_.c_str(), static_cast<int>(kOffline.size()),
                       kOffline.constData(), config_.qos, true);
    if (!config_.caFile.empty())
        mosquitto_tls_set(mosq_, config_.caFile.c_str(), nullptr, orNull(config_.certFile),
                          orNull(config_.keyFile), nullptr);
    mosquitto_connect_callback_set(mosq_, &BrokerSession::onConnect);
    mosquitto_log_callback_set(mosq_, &BrokerSession::onLog);
    thread_ = std::thread([this] { run(); });
}

BrokerSession::~BrokerSession() {
    leaving_ = true;
    if (connected_) {
        // A clean goodbye sends no last will: say offline first, and give the connection's
        // thread a moment to send both.
        publish(statusTopic_, kOffline, true);
        mosquitto_disconnect(mosq_);
        std::unique_lock lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return attemptDone_; });
    }
    stopping_ = true;
    wake_.notify_all();
    thread_.join();
    mosquitto_destroy(mosq_);
}

bool BrokerSession::publish(const std::string& topic, const QByteArray& payload, bool retain) {
    if (!connected_)
        return false;
    return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.constData(), config_.qos, retain) == MOSQ_ERR_SUCCESS;
}

std::string BrokerSession::where() const {
    return config_.host + ":" + std::to_string(config_.portOrDefault());
}

void BrokerSession::report(BrokerTrouble trouble, const std::string& text) {
    if (events_.state)
        events_.state(trouble, text);
}

void BrokerSession::run() {
    std::chrono::milliseconds delay = std::chrono::seconds(1);
    while (!stopping_ && !leaving_) {
        attempt();
        {
            std::lock_guard lock(wakeMutex_);
            attemptDone_ = true;
        }
        wake_.notify_all();
        if (stopping_ || leaving_)
            break;
        if (accepted_)
            delay = std::chrono::seconds(1);
        if (!waitBeforeRetry(delay))
            break;
        delay = std::min(delay * 2, longestBackOff);
    }
}

void BrokerSession::attempt() {
    refusal_ = 0;
    accepted_ = false;
    {
        std::lock_guard lock(errorMutex_);
        lastError_.clear();
    }
    {
        std::lock_guard lock(wakeMutex_);
        attemptDone_ = false;
    }
    int rc = mosquitto_connect_async(mosq_, config_.host.c_str(), config_.portOrDefault(),
                                     kKeepAliveSeconds);
    int error = errno;
    while (rc == MOSQ_ERR_SUCCESS && !stopping_) {
        rc = mosquitto_loop(mosq_, kLoopTimeoutMs, 1);
        error = errno;
    }
    connected_ = false;
    if (rc == MOSQ_ERR_SUCCESS || leaving_)
        return;
    std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(rc);
    bool tls = rc == MOSQ_ERR_TLS;
    {
        std::lock_guard lock(errorMutex_);
        if (!lastError_.empty())
            why += " (" + lastError_ + ")";
        tls = tls || lastError_.find("OpenSSL") != std::string::npos;
    }
    if (refusal_) {
        // 4: bad user name or password, 5: not authorised.
        const bool login = refusal_ == 4 || refusal_ == 5;
        report(login ? BrokerTrouble::LoginRefused : BrokerTrouble::Refused,
               where() + " refused the connection: " + mosquitto_connack_string(refusal_) +
                   "; retrying");
    } else if (accepted_)
        report(BrokerTrouble::Unreachable,
               "connection to " + where() + " lost: " + why + "; retrying");
    else if (tls)
        report(BrokerTrouble::CertificateRefused,
               where() + " TLS handshake failed: " + why + "; retrying");
    else
        report(BrokerTrouble::Unreachable, where() + " unreachable: " + why + "; retrying");
}

bool BrokerSession::waitBeforeRetry(std::chrono::milliseconds delay) {
    std::unique_lock lock(wakeMutex_);
    return !wake_.wait_for(lock, delay, [this] { return stopping_.load(); });
}

void BrokerSession::onConnect(mosquitto*, void* self, int code) {
    auto* s = static_cast<BrokerSession*>(self);
    if (code != 0) {
        s->refusal_ = code;
        return;
    }
    s->accepted_ = true;
    s->connected_ = true;
    s->publish(s->statusTopic_, kOnline, true);
    s->report(BrokerTrouble::None, "connected to " + s->where());
    if (s->events_.connected)
        s->events_.connected();
}

void BrokerSession::onLog(mosquitto*, void* self, int level, const char* text) {
    if (!(level & MOSQ_LOG_ERR))
        return;
    auto* s = static_cast<BrokerSession*>(self);
    std::lock_guard lock(s->errorMutex_);
    s->lastError_ = text;
}

} // namespace mirv
