#include "attached_feed.h"

#include "station_messages.h"

#include <QElapsedTimer>
#include <QJsonArray>

namespace mirv {

namespace {

const BoardRow kEmptyRow{};

} // namespace

AttachedFeed::AttachedFeed(const QString& socketPath, QObject* parent)
    : StationFeed(parent), path_(socketPath) {
    connect(&socket_, &QLocalSocket::connected, this, [this] { send(wire::hello()); });
    connect(&socket_, &QLocalSocket::readyRead, this, &AttachedFeed::onReadable);
    connect(&socket_, &QLocalSocket::disconnected, this, &AttachedFeed::lost);
    connect(&socket_, &QLocalSocket::errorOccurred, this, [this] {
        if (socket_.state() == QLocalSocket::UnconnectedState)
            lost();
    });
    reconnect_.setInterval(kReconnectMs);
    connect(&reconnect_, &QTimer::timeout, this, [this] {
        if (socket_.state() == QLocalSocket::UnconnectedState)
            connectNow();
    });
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, &AttachedFeed::watch);
}

AttachedFeed::~AttachedFeed() {
    socket_.disconnect(this);
    socket_.abort();
}

AttachedFeed::Attach AttachedFeed::attach(std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    connectNow();
    if (!socket_.waitForConnected(static_cast<int>(timeout.count())))
        return Attach::NoService;
    while (!live_ && !otherVersion_ && socket_.state() == QLocalSocket::ConnectedState) {
        const qint64 left = timeout.count() - clock.elapsed();
        if (left <= 0 || !socket_.waitForReadyRead(static_cast<int>(left)))
            break;
    }
    if (live_)
        return Attach::Attached;
    if (otherVersion_)
        return Attach::OtherVersion;
    socket_.disconnect(this);
    socket_.abort();
    return Attach::NoService;
}

void AttachedFeed::connectNow() {
    decoder_ = std::make_unique<wire::Decoder>();
    greeted_ = false;
    heard_.start();
    socket_.connectToServer(path_);
    if (!watch_.isActive())
        watch_.start();
}

// A connection on which the service said nothing for too long is closed as if it had ended;
// connecting again then waits for the service to answer. What already came but was not read
// yet (the window itself was busy) counts as heard.
void AttachedFeed::watch() {
    const auto silent = [this] {
        // A Save is answered on the service's own thread, which may wait seconds for the
        // database meanwhile: no beat comes until it is done.
        const int limit = saving_ ? wire::kSavingSilentMs : wire::kSilentMs;
        return socket_.state() != QLocalSocket::UnconnectedState && heard_.elapsed() >= limit;
    };
    if (!silent())
        return;
    socket_.waitForReadyRead(0);
    if (!silent())
        return;
    socket_.abort();
    lost();
}

const BoardRow& AttachedFeed::row(int meter) const {
    return ReadingsBoard::isMeter(meter) ? rows_[std::size_t(meter - 1)] : kEmptyRow;
}

MeterMark AttachedFeed::mark(int meter) const {
    return ReadingsBoard::isMeter(meter) ? marks_[std::size_t(meter - 1)] : MeterMark{};
}

void AttachedFeed::readLine(LineReadout& into) {
    static_cast<LineCounts&>(into) = counts_;
    copyFreshFrames(frames_, into);
    if (live_ && !lineAsked_) {
        lineAsked_ = true;
        send({{"type", "line"}});
    }
}

void AttachedFeed::clearCounters() {
    if (live_)
        send({{"type", "clear-counters"}});
}

void AttachedFeed::saveSettings(const SettingsUpdate& update) {
    if (!live_) {
        emit settingsSaved(QStringLiteral("后台服务已停止,设置未保存"));
        return;
    }
    saving_ = true;
    send(wire::updateJson(update));
}

void AttachedFeed::send(const QJsonObject& message) {
    socket_.write(wire::encode(message));
}

void AttachedFeed::onReadable() {
    heard_.start();
    decoder_->feed(socket_.readAll());
    while (socket_.state() == QLocalSocket::ConnectedState) {
        const std::optional<QJsonObject> message = decoder_->next();
        if (!message)
            break;
        handle(*message);
    }
    if (decoder_->error() != wire::Decoder::Error::None)
        socket_.abort();
}

void AttachedFeed::handle(const QJsonObject& message) {
    const QString type = message.value(QStringLiteral("type")).toString();
    if (!greeted_) {
        greeted_ = true;
        if (type != QStringLiteral("hello") || !wire::sameProtocol(message)) {
            otherVersion_ = true;
            setMessage(wire::versionsDiffer(message));
            socket_.abort();
        }
        return;
    }
    if (type == QStringLiteral("state"))
        return applyState(message);
    if (type == QStringLiteral("beat"))
        return; // heard: that is all it says
    if (!live_)
        return;
    const int n = message.value(QStringLiteral("n")).toInt();
    if (type == QStringLiteral("row")) {
        BoardRow r;
        if (ReadingsBoard::isMeter(n) && wire::readRow(message.value(QStringLiteral("row")), r))
            setRow(n, r);
    } else if (type == QStringLiteral("mark")) {
        if (ReadingsBoard::isMeter(n))
            setMark(n, wire::readMark(message.value(QStringLiteral("mark"))));
    } else if (type == QStringLiteral("message")) {
        setMessage(message.value(QStringLiteral("text")).toString());
    } else if (type == QStringLiteral("settings")) {
        settings_ = wire::readSettings(message.value(QStringLiteral("settings")));
        emit settingsChanged();
    } else if (type == QStringLiteral("line")) {
        lineAsked_ = false;
        wire::readCounts(message.value(QStringLiteral("counts")), counts_);
        for (const QJsonValue& f : message.value(QStringLiteral("frames")).toArray()) {
            MonitorFrame frame;
            if (wire::readFrame(f, frame))
                frames_.push() = frame;
        }
    } else if (type == QStringLiteral("alarms")) {
        setAlarms(wire::readAlarms(message.value(QStringLiteral("alarms"))));
    } else if (type == QStringLiteral("settings-saved") && saving_) {
        saving_ = false;
        emit settingsSaved(message.value(QStringLiteral("failure")).toString());
    }
}

void AttachedFeed::applyState(const QJsonObject& state) {
    live_ = true;
    otherVersion_ = false;
    reconnect_.stop();
    const QJsonArray rows = state.value(QStringLiteral("rows")).toArray();
    const QJsonArray marks = state.value(QStringLiteral("marks")).toArray();
    for (int n = 1; n <= kMeters; ++n) {
        BoardRow r;
        setRow(n, wire::readRow(rows.at(n - 1), r) ? r : kEmptyRow);
        setMark(n, wire::readMark(marks.at(n - 1)));
    }
    settings_ = wire::readSettings(state.value(QStringLiteral("settings")));
    emit settingsChanged();
    setMessage(state.value(QStringLiteral("message")).toString());
    setAlarms(wire::readAlarms(state.value(QStringLiteral("alarms"))));
}

void AttachedFeed::setAlarms(std::vector<AlarmRow> alarms) {
    if (alarms == alarms_)
        return;
    alarms_ = std::move(alarms);
    emit alarmsChanged();
}

void AttachedFeed::acknowledge(int meter, const std::string& kind) {
    if (live_)
        send({{"type", "acknowledge"}, {"meter", meter}, {"kind", QString::fromStdString(kind)}});
}

void AttachedFeed::setRow(int meter, const BoardRow& row) {
    BoardRow& shown = rows_[std::size_t(meter - 1)];
    if (shown == row)
        return;
    shown = row;
    emit rowChanged(meter);
}

void AttachedFeed::setMark(int meter, MeterMark mark) {
    MeterMark& shown = marks_[std::size_t(meter - 1)];
    if (shown == mark)
        return;
    shown = mark;
    emit markChanged(meter);
}

void AttachedFeed::setMessage(const QString& text) {
    if (text == message_)
        return;
    message_ = text;
    emit messageChanged(text);
}

// The service is gone (or never answered): the board empties and greys until it is back.
void AttachedFeed::lost() {
    lineAsked_ = false;
    if (!reconnect_.isActive())
        reconnect_.start();
    if (!live_)
        return;
    live_ = false;
    setAlarms({});
    for (int n = 1; n <= kMeters; ++n) {
        setRow(n, kEmptyRow);
        setMark(n, MeterMark{});
    }
    setMessage(QStringLiteral("后台服务已停止,正在重新连接"));
    if (saving_) {
        saving_ = false;
        emit settingsSaved(QStringLiteral("后台服务已停止,设置未保存"));
    }
}

} // namespace mirv
