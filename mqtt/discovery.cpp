#include "discovery.h"

#include "meter_state.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace mirv {

namespace {

constexpr const char* kDiscoveryPrefix = "homeassistant";

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string meterNode(const StationTopics& t, int meter) {
    return t.identity + "_" + std::to_string(meter);
}

std::string configTopic(const char* component, const std::string& node, std::string_view key) {
    return std::string(kDiscoveryPrefix) + "/" + component + "/" + node + "/" + std::string(key) +
           "/config";
}

QJsonObject meterDevice(const StationTopics& t, int meter) {
    return QJsonObject{
        {"identifiers", QJsonArray{text(meterNode(t, meter))}},
        {"name", QStringLiteral("Meter %1").arg(meter)},
        {"model", QStringLiteral("Flow and energy meter, address %1").arg(meter)},
        {"via_device", text(t.identity)},
    };
}

// What every entity of a meter shares: its device, its state topic and its availability.
QJsonObject meterEntity(const StationTopics& t, int meter, std::string_view key,
                        std::string_view name) {
    return QJsonObject{
        {"name", text(name)},
        {"unique_id", text(meterNode(t, meter) + "_" + std::string(key))},
        {"state_topic", text(t.state(meter))},
        {"availability", QJsonArray{QJsonObject{{"topic", text(t.status())}},
                                    QJsonObject{{"topic", text(t.availability(meter))}}}},
        {"availability_mode", "all"},
        {"device", meterDevice(t, meter)},
    };
}

QByteArray compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

std::string StationTopics::state(int meter) const {
    return prefix + "/meter/" + std::to_string(meter) + "/state";
}

std::string StationTopics::availability(int meter) const {
    return prefix + "/meter/" + std::to_string(meter) + "/availability";
}

std::string StationTopics::events(int meter) const {
    return prefix + "/meter/" + std::to_string(meter) + "/events";
}

Publication stationDiscovery(const StationTopics& t) {
    const QJsonObject config{
        {"name", "Online"},
        {"unique_id", text(t.identity + "_online")},
        {"state_topic", text(t.status())},
        {"payload_on", "online"},
        {"payload_off", "offline"},
        {"device_class", "connectivity"},
        {"device", QJsonObject{{"identifiers", QJsonArray{text(t.identity)}},
                               {"name", QStringLiteral("Meter station %1").arg(text(t.prefix))}}},
    };
    return {configTopic("binary_sensor", t.identity, "online"), compact(config)};
}

std::vector<Publication> meterDiscovery(const StationTopics& t, int meter) {
    std::vector<Publication> configs;
    const std::string node = meterNode(t, meter);
    for (const Quantity& q : kQuantities) {
        QJsonObject config = meterEntity(t, meter, q.key, q.name);
        config.insert("value_template", QStringLiteral("{{ value_json.%1 }}").arg(text(q.key)));
        config.insert("device_class", text(q.deviceClass));
        config.insert("unit_of_measurement", text(q.unit));
        config.insert("state_class", text(q.stateClass));
        configs.push_back({configTopic("sensor", node, q.key), compact(config)});
    }
    for (std::size_t i = 0; i < kAlarmKeys.size(); ++i) {
        QJsonObject config = meterEntity(t, meter, kAlarmKeys[i], kAlarmNames[i]);
        config.insert(
            "value_template",
            QStringLiteral("{{ 'ON' if value_json.%1 else 'OFF' }}").arg(text(kAlarmKeys[i])));
        config.insert("device_class", "problem");
        configs.push_back({configTopic("binary_sensor", node, kAlarmKeys[i]), compact(config)});
    }
    return configs;
}

std::vector<Publication> meterRemoval(const StationTopics& t, int meter) {
    std::vector<Publication> removal = meterDiscovery(t, meter);
    for (Publication& p : removal)
        p.payload.clear();
    removal.push_back({t.state(meter), {}});
    removal.push_back({t.availability(meter), {}});
    return removal;
}

} // namespace mirv
