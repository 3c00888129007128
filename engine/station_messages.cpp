#include "station_messages.h"

#include <QJsonValue>
#include <algorithm>
#include <cstring>

namespace mirv::wire {

namespace {

QJsonValue number(std::uint64_t v) {
    return QJsonValue(static_cast<double>(v));
}
QJsonValue number(std::int64_t v) {
    return QJsonValue(static_cast<double>(v));
}
std::uint64_t unsignedOf(const QJsonValue& v) {
    const double d = v.toDouble();
    return d > 0 ? static_cast<std::uint64_t>(d) : 0;
}
std::int64_t signedOf(const QJsonValue& v) {
    return static_cast<std::int64_t>(v.toDouble());
}
QJsonValue optional(const std::optional<std::int64_t>& v) {
    return v ? number(*v) : QJsonValue();
}
std::optional<std::int64_t> optionalOf(const QJsonValue& v) {
    return v.isDouble() ? std::optional(signedOf(v)) : std::nullopt;
}
QJsonValue text(const std::optional<std::string>& t) {
    return t ? QJsonValue(QString::fromStdString(*t)) : QJsonValue();
}
std::optional<std::string> textOf(const QJsonValue& v) {
    return v.isString() ? std::optional(v.toString().toStdString()) : std::nullopt;
}

bool counted(const MeterCounters& m) {
    return m.requests || m.answers || m.missed || m.late || m.rejected() || m.lastException ||
           m.strayBytes || m.responseLastUs || m.consecutiveMisses || m.lastAnswerUs ||
           m.lastTroubleUs;
}

QJsonObject meterJson(ReadKey key, const MeterCounters& m) {
    QJsonArray rejects;
    for (auto r : m.rejects)
        rejects.append(number(r));
    return {{"a", key.address},
            {"r", key.read},
            {"requests", number(m.requests)},
            {"answers", number(m.answers)},
            {"missed", number(m.missed)},
            {"late", number(m.late)},
            {"rejects", rejects},
            {"lastException", m.lastException},
            {"strayBytes", number(m.strayBytes)},
            {"responseLastUs", optional(m.responseLastUs)},
            {"responseMinUs", optional(m.responseMinUs)},
            {"responseMaxUs", optional(m.responseMaxUs)},
            {"responseSumUs", number(m.responseSumUs)},
            {"consecutiveMisses", static_cast<double>(m.consecutiveMisses)},
            {"lastAnswerUs", number(m.lastAnswerUs)},
            {"lastTroubleUs", number(m.lastTroubleUs)}};
}

void readMeter(const QJsonObject& o, MeterCounters& m) {
    m.requests = unsignedOf(o["requests"]);
    m.answers = unsignedOf(o["answers"]);
    m.missed = unsignedOf(o["missed"]);
    m.late = unsignedOf(o["late"]);
    const QJsonArray rejects = o["rejects"].toArray();
    for (std::size_t i = 0; i < m.rejects.size() && i < std::size_t(rejects.size()); ++i)
        m.rejects[i] = unsignedOf(rejects[qsizetype(i)]);
    m.lastException = static_cast<std::uint8_t>(std::clamp(o["lastException"].toInt(), 0, 255));
    m.strayBytes = unsignedOf(o["strayBytes"]);
    m.responseLastUs = optionalOf(o["responseLastUs"]);
    m.responseMinUs = optionalOf(o["responseMinUs"]);
    m.responseMaxUs = optionalOf(o["responseMaxUs"]);
    m.responseSumUs = signedOf(o["responseSumUs"]);
    m.consecutiveMisses = static_cast<std::uint32_t>(unsignedOf(o["consecutiveMisses"]));
    m.lastAnswerUs = signedOf(o["lastAnswerUs"]);
    m.lastTroubleUs = signedOf(o["lastTroubleUs"]);
}

} // namespace

QString socketPath(const QString& programDir) {
    return programDir + QStringLiteral("/mirv-station.sock");
}

QJsonObject hello() {
    return {{"type", "hello"}, {"protocol", kProtocol}, {"version", MIRV_VERSION}};
}

QJsonObject beat() {
    return {{"type", "beat"}};
}

bool sameProtocol(const QJsonObject& hello) {
    return hello.value(QStringLiteral("type")) == QStringLiteral("hello") &&
           hello.value(QStringLiteral("protocol")).toInt(-1) == kProtocol;
}

QString versionsDiffer(const QJsonObject& serviceHello) {
    return QStringLiteral("窗口与后台服务版本不同(窗口%1,服务%2),请使用同一版本")
        .arg(QStringLiteral(MIRV_VERSION),
             serviceHello.value(QStringLiteral("version")).toString());
}

QJsonArray rowJson(const BoardRow& row) {
    QJsonArray a;
    for (const auto& t : row)
        a.append(QString::fromStdString(t));
    return a;
}

bool readRow(const QJsonValue& value, BoardRow& row) {
    const QJsonArray a = value.toArray();
    if (a.size() != qsizetype(row.size()))
        return false;
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = a[qsizetype(i)].toString().toStdString();
    return true;
}

QJsonArray markJson(MeterMark mark) {
    return {mark.polled, mark.silent, static_cast<int>(mark.alarm)};
}

MeterMark readMark(const QJsonValue& value) {
    const QJsonArray a = value.toArray();
    const int alarm = a.at(2).toInt(0);
    return {a.at(0).toBool(), a.at(1).toBool(),
            alarm >= 0 && alarm <= 2 ? static_cast<MeterAlarm>(alarm) : MeterAlarm::None};
}

QJsonArray alarmsJson(const std::vector<AlarmRow>& alarms) {
    QJsonArray out;
    for (const AlarmRow& a : alarms)
        out.append(QJsonObject{{"meter", a.meter},
                               {"kind", QString::fromStdString(a.kind)},
                               {"state", QString::fromStdString(a.state)},
                               {"repeats", a.repeats},
                               {"began", QString::fromStdString(a.began)},
                               {"changed", QString::fromStdString(a.changed)},
                               {"ackUser", QString::fromStdString(a.ackUser)},
                               {"ackTime", QString::fromStdString(a.ackTime)}});
    return out;
}

std::vector<AlarmRow> readAlarms(const QJsonValue& value) {
    std::vector<AlarmRow> out;
    auto text = [](const QJsonObject& o, const char* key) {
        return o.value(QLatin1String(key)).toString().left(64).toStdString();
    };
    for (const QJsonValue& v : value.toArray()) {
        const QJsonObject o = v.toObject();
        out.push_back({o.value(QStringLiteral("meter")).toInt(), text(o, "kind"), text(o, "state"),
                       o.value(QStringLiteral("repeats")).toInt(), text(o, "began"),
                       text(o, "changed"), text(o, "ackUser"), text(o, "ackTime")});
        if (out.size() >= static_cast<std::size_t>(kMeters) * 6)
            break;
    }
    return out;
}

QJsonObject settingsJson(const SettingsTexts& t) {
    return {{"pollInterval", text(t.pollInterval)},
            {"recordInterval", text(t.recordInterval)},
            {"meterCount", text(t.meterCount)},
            {"baud", text(t.baud)},
            {"port", t.port ? QJsonValue(*t.port) : QJsonValue()}};
}

SettingsTexts readSettings(const QJsonValue& value) {
    const QJsonObject o = value.toObject();
    SettingsTexts t;
    t.pollInterval = textOf(o["pollInterval"]);
    t.recordInterval = textOf(o["recordInterval"]);
    t.meterCount = textOf(o["meterCount"]);
    t.baud = textOf(o["baud"]);
    if (const int port = o["port"].toInt(0); port >= 1 && port <= 10)
        t.port = port;
    return t;
}

namespace {

QJsonArray metersJson(const std::vector<PlannedMeter>& meters) {
    QJsonArray out;
    for (const PlannedMeter& m : meters)
        out.append(QJsonObject{{"row", m.row},
                               {"address", m.address},
                               {"profile", QString::fromStdString(m.profile)},
                               {"name", QString::fromStdString(m.name)},
                               {"polled", m.polled}});
    return out;
}

// At most one entry a board row; texts cut to what a name or a profile's name may be.
std::vector<PlannedMeter> readMeters(const QJsonArray& array) {
    std::vector<PlannedMeter> out;
    for (const QJsonValue& v : array) {
        const QJsonObject o = v.toObject();
        const int row = o.value(QStringLiteral("row")).toInt();
        if (!ReadingsBoard::isMeter(row) || out.size() >= static_cast<std::size_t>(kMeters))
            continue;
        out.push_back({row, o.value(QStringLiteral("address")).toInt(),
                       o.value(QStringLiteral("profile")).toString().left(128).toStdString(),
                       o.value(QStringLiteral("name")).toString().left(128).toStdString(),
                       o.value(QStringLiteral("polled")).toBool(true)});
    }
    return out;
}

} // namespace

QJsonObject updateJson(const SettingsUpdate& u) {
    return {{"type", "save-settings"},
            {"timer", QString::fromStdString(u.timer)},
            {"minute", QString::fromStdString(u.minute)},
            {"Settings", QString::fromStdString(u.Settings)},
            {"num", QString::fromStdString(u.num)},
            {"com", u.com ? QJsonValue(*u.com) : QJsonValue()},
            {"meters", u.meters ? QJsonValue(metersJson(*u.meters)) : QJsonValue()}};
}

SettingsUpdate readUpdate(const QJsonObject& o) {
    SettingsUpdate u;
    u.timer = o["timer"].toString().toStdString();
    u.minute = o["minute"].toString().toStdString();
    u.Settings = o["Settings"].toString().toStdString();
    u.num = o["num"].toString().toStdString();
    if (o["com"].isDouble())
        u.com = o["com"].toInt();
    if (o["meters"].isArray())
        u.meters = readMeters(o["meters"].toArray());
    return u;
}

namespace {

// Reads polled that one message carries at most: a board of meters with many reads each.
constexpr qsizetype kMaxPolledReads = 4096;

QJsonArray polledJson(const std::vector<PolledRead>& polled) {
    QJsonArray out;
    for (const PolledRead& r : polled)
        out.append(QJsonObject{{"a", r.key.address},
                               {"r", r.key.read},
                               {"profile", QString::fromStdString(r.profile)},
                               {"name", QString::fromStdString(r.name)},
                               {"function", r.read.function},
                               {"first", r.read.first},
                               {"count", r.read.count}});
    return out;
}

std::uint8_t byteOf(const QJsonValue& v) {
    return static_cast<std::uint8_t>(std::clamp(v.toInt(), 0, 255));
}

std::vector<PolledRead> readPolled(const QJsonArray& array) {
    std::vector<PolledRead> out;
    for (qsizetype i = 0; i < std::min(array.size(), kMaxPolledReads); ++i) {
        const QJsonObject o = array[i].toObject();
        out.push_back({{byteOf(o["a"]), byteOf(o["r"])},
                       o["profile"].toString().left(128).toStdString(),
                       {byteOf(o["function"]),
                        static_cast<std::uint16_t>(std::clamp(o["first"].toInt(), 0, 65535)),
                        static_cast<std::uint16_t>(std::clamp(o["count"].toInt(), 0, 65535))},
                       o["name"].toString().left(128).toStdString()});
    }
    return out;
}

} // namespace

QJsonObject countsJson(const LineCounts& c) {
    QJsonArray meters;
    for (const auto& [key, m] : c.reads)
        if (counted(m))
            meters.append(meterJson(key, m));
    return {{"bytesOut", number(c.line.bytesOut)},
            {"bytesIn", number(c.line.bytesIn)},
            {"ticks", number(c.line.ticks)},
            {"cycleLastUs", number(c.line.cycleLastUs)},
            {"cycleMaxUs", number(c.line.cycleMaxUs)},
            {"cycleSumUs", number(c.line.cycleSumUs)},
            {"meters", meters},
            {"polled", polledJson(c.polled)},
            {"setIntervalMs", c.setIntervalMs},
            {"meterCount", QString::fromStdString(c.meterCount)},
            {"opens", number(c.opens)},
            {"openFailures", number(c.openFailures)},
            {"nowWallUs", number(c.nowWallUs)}};
}

void readCounts(const QJsonValue& value, LineCounts& into) {
    const QJsonObject o = value.toObject();
    into.line.bytesOut = unsignedOf(o["bytesOut"]);
    into.line.bytesIn = unsignedOf(o["bytesIn"]);
    into.line.ticks = unsignedOf(o["ticks"]);
    into.line.cycleLastUs = signedOf(o["cycleLastUs"]);
    into.line.cycleMaxUs = signedOf(o["cycleMaxUs"]);
    into.line.cycleSumUs = signedOf(o["cycleSumUs"]);
    into.reads.clear();
    for (const QJsonValue& m : o["meters"].toArray()) {
        const int a = m[QStringLiteral("a")].toInt(-1);
        const int r = m[QStringLiteral("r")].toInt(-1);
        if (a >= 0 && a < LineStats::kAddresses && r >= 0 && r <= 255)
            readMeter(m.toObject(),
                      into.reads[{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(r)}]);
    }
    countMeters(into);
    into.polled = readPolled(o["polled"].toArray());
    into.setIntervalMs = o["setIntervalMs"].toInt();
    into.meterCount = o["meterCount"].toString().toStdString();
    into.opens = unsignedOf(o["opens"]);
    into.openFailures = unsignedOf(o["openFailures"]);
    into.nowWallUs = signedOf(o["nowWallUs"]);
}

QJsonObject frameJson(const MonitorFrame& f) {
    const auto kept = f.kept();
    return {{"t", number(f.wallUs)},
            {"n", static_cast<double>(f.length)},
            {"m", f.meter},
            {"v", static_cast<int>(f.verdict)},
            {"o", f.out},
            {"b", QString::fromLatin1(
                      QByteArray(reinterpret_cast<const char*>(kept.data()), qsizetype(kept.size()))
                          .toBase64())}};
}

bool readFrame(const QJsonValue& value, MonitorFrame& into) {
    const QJsonObject o = value.toObject();
    const int verdict = o["v"].toInt(-1);
    const QByteArray bytes = QByteArray::fromBase64(o["b"].toString().toLatin1());
    if (verdict < 0 || verdict > static_cast<int>(FrameVerdict::Exception) ||
        std::size_t(bytes.size()) > MonitorFrame::kKeptBytes)
        return false;
    into.wallUs = signedOf(o["t"]);
    into.length = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(unsignedOf(o["n"]), std::uint64_t(bytes.size())));
    into.meter = static_cast<std::uint8_t>(std::clamp(o["m"].toInt(), 0, 255));
    into.verdict = static_cast<FrameVerdict>(verdict);
    into.out = o["o"].toBool();
    into.bytes.fill(0);
    std::memcpy(into.bytes.data(), bytes.constData(), std::size_t(bytes.size()));
    return true;
}

} // namespace mirv::wire
