#pragma once

#include "mqtt_publisher.h"
#include "station_engine.h"

#include <QString>
#include <memory>

namespace mirv {

// Starts putting the engine's board and its journal's events on the broker mqtt.conf in
// `programDir` names; nothing without that file. A file that cannot be used, and every change
// of the connection's state, goes to standard error (the log) once; the file's problem also
// goes on an empty message line, and a broker that cannot be had lays its trouble over the
// line until it is back. The station polls on whatever the broker does.
std::unique_ptr<MqttPublisher> startMqtt(StationEngine& engine, const QString& programDir);

} // namespace mirv
