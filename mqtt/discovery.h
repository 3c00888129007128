#pragma once

#include <QByteArray>
#include <string>
#include <vector>

namespace mirv {

// A message for the broker: its topic, payload and whether the broker keeps it for later
// subscribers.
struct Publication {
    std::string topic;
    QByteArray payload;
    bool retain = true;
};

// Where a station publishes: its status (the last will), each meter's state and availability,
// the journal's events (all of them, and each meter's also under the meter), all under the
// configured prefix; `identity` (uplink.id) makes the dashboard's ids.
struct StationTopics {
    std::string prefix;
    std::string identity;

    std::string status() const { return prefix + "/status"; }
    std::string state(int meter) const;
    std::string availability(int meter) const;
    std::string events() const { return prefix + "/events"; }
    std::string events(int meter) const;
};

// The dashboard's retained configurations: the station's connectivity sensor, which makes the
// station a device of its own.
Publication stationDiscovery(const StationTopics& topics);

// One device per meter, with a sensor per reading and a problem sensor per alarm, shown only
// while both the station and the meter are online.
std::vector<Publication> meterDiscovery(const StationTopics& topics, int meter);

// The same topics with empty payloads: the dashboard forgets the meter's entities.
std::vector<Publication> meterRemoval(const StationTopics& topics, int meter);

} // namespace mirv
