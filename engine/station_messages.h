#pragma once

#include "line_readout.h"
#include "station_feed.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace mirv::wire {

// What the service and the windows attached to it say on the station's local socket, each
// way's first message a hello naming the protocol. Both sides read and write through these.
inline constexpr int kProtocol = 3;

// The service beats once a second to every window; a window that hears nothing for three
// takes the service as gone (stopped or hung leaves the socket open).
inline constexpr int kBeatMs = 1000;
inline constexpr int kSilentMs = 3000;
// While a Save waits for its answer: the service stores and applies it between two beats,
// waiting up to several seconds for a busy database.
inline constexpr int kSavingSilentMs = 15000;
QJsonObject beat();

// The socket in the program folder.
QString socketPath(const QString& programDir);

QJsonObject hello();
bool sameProtocol(const QJsonObject& hello);
// What a window says of a service that speaks another protocol.
QString versionsDiffer(const QJsonObject& serviceHello);

QJsonArray rowJson(const BoardRow& row);
// False (and `row` untouched) for anything but 11 texts.
bool readRow(const QJsonValue& value, BoardRow& row);
QJsonArray markJson(MeterMark mark);
MeterMark readMark(const QJsonValue& value);
QJsonObject settingsJson(const SettingsTexts& texts);
SettingsTexts readSettings(const QJsonValue& value);
QJsonObject updateJson(const SettingsUpdate& update);
SettingsUpdate readUpdate(const QJsonObject& message);

// The alarms that are not normal, as the engine lists them.
QJsonArray alarmsJson(const std::vector<AlarmRow>& alarms);
std::vector<AlarmRow> readAlarms(const QJsonValue& value);

// The counters read by read (only the reads where anything was counted go) and the reads
// polled with their names; the meters' counters are made again from their reads'.
QJsonObject countsJson(const LineCounts& counts);
void readCounts(const QJsonValue& value, LineCounts& into);
QJsonObject frameJson(const MonitorFrame& frame);
bool readFrame(const QJsonValue& value, MonitorFrame& into);

} // namespace mirv::wire
