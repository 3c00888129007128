#include "start_mqtt.h"

#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>

namespace mirv {

namespace {

void say(const std::string& text) {
    std::fprintf(stderr, "%s: mqtt: %s\n", qPrintable(QCoreApplication::applicationName()),
                 text.c_str());
}

} // namespace

std::unique_ptr<MqttPublisher> startMqtt(StationEngine& engine, const QString& programDir) {
    const std::string folder = QFile::encodeName(programDir).toStdString();
    const std::string path = folder + "/mqtt.conf";
    if (!QFile::exists(QFile::decodeName(path.c_str())))
        return nullptr;
    auto refuse = [&](const std::string& problem) {
        say(problem + "; nothing is published");
        if (engine.message().isEmpty())
            engine.setMessage(problem);
        return nullptr;
    };
    const MqttConfigResult config = loadMqttConfig(path);
    if (const auto* error = std::get_if<ConfigError>(&config))
        return refuse(error->message);
    const auto identity = loadOrCreateIdentity(folder + "/uplink.id");
    if (const auto* error = std::get_if<ConfigError>(&identity))
        return refuse(error->message);
    // A broker that goes away while a TLS record is being written would otherwise end the
    // station with SIGPIPE: the write's error is what tells the connection's thread.
    std::signal(SIGPIPE, SIG_IGN);
    auto publisher = std::make_unique<MqttPublisher>(engine, std::get<MqttConfig>(config),
                                                     std::get<std::string>(identity));
    QObject::connect(publisher.get(), &MqttPublisher::statusChanged,
                     [](const QString& text) { say(text.toStdString()); });
    QObject::connect(
        publisher.get(), &MqttPublisher::lineChanged, &engine,
        [&engine](const QString& text) { engine.showBrokerState(text.toStdString()); });
    QObject::connect(
        publisher.get(), &MqttPublisher::eventsDropped, [p = publisher.get()](qulonglong count) {
            say(std::to_string(count) + " events dropped while the broker was away; the latest " +
                std::to_string(p->eventLimit) + " went out");
        });
    QObject::connect(&engine, &StationEngine::eventsNoted, publisher.get(),
                     &MqttPublisher::publishEvents);
    return publisher;
}

} // namespace mirv
