#include "station_server.h"

#include <pwd.h>
#include <sys/socket.h>

#include "station_messages.h"

#include <QFile>
#include <QJsonArray>
#include <QLocalSocket>
#include <cstdio>
#include <sys/stat.h>

namespace mirv {

// The message is made only when a window will get it: most changes come with no window attached.
template <typename Make> void StationServer::broadcast(const Make& make) {
    std::optional<QJsonObject> message;
    for (auto& [socket, client] : clients_) {
        if (!client->greeted || client->doomed)
            continue;
        if (!message)
            message = make();
        send(*client, *message);
    }
}

StationServer::StationServer(StationEngine& engine, QObject* parent)
    : QObject(parent), engine_(engine) {
    connect(&server_, &QLocalServer::newConnection, this, &StationServer::accept);
    beat_.setInterval(wire::kBeatMs);
    connect(&beat_, &QTimer::timeout, this, [this] { broadcast(wire::beat); });
    connect(&engine_, &StationFeed::rowChanged, this, [this](int n) {
        broadcast([&] {
            return QJsonObject{{"type", "row"}, {"n", n}, {"row", wire::rowJson(engine_.row(n))}};
        });
    });
    connect(&engine_, &StationFeed::markChanged, this, [this](int n) {
        broadcast([&] {
            return QJsonObject{
                {"type", "mark"}, {"n", n}, {"mark", wire::markJson(engine_.mark(n))}};
        });
    });
    connect(&engine_, &StationFeed::messageChanged, this, [this](const QString& text) {
        broadcast([&] { return QJsonObject{{"type", "message"}, {"text", text}}; });
    });
    connect(&engine_, &StationFeed::settingsChanged, this, [this] {
        broadcast([&] {
            return QJsonObject{{"type", "settings"},
                               {"settings", wire::settingsJson(engine_.settingsTexts())}};
        });
    });
    connect(&engine_, &StationFeed::alarmsChanged, this, [this] {
        broadcast([&] {
            return QJsonObject{{"type", "alarms"}, {"alarms", wire::alarmsJson(engine_.alarms())}};
        });
    });
    connect(&engine_, &StationFeed::settingsSaved, this, [this](const QString& failure) {
        const auto it = clients_.find(saving_);
        if (it != clients_.end()) {
            send(*it->second, {{"type", "settings-saved"}, {"failure", failure}});
        }
    });
}

// Who is at the other end of a window's connection, by the system's own word (the peer's
// credentials), so that a save or an acknowledgement names the operator and not the service.
std::string StationServer::peerUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                     &size) != 0)
        return "unknown";
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(peer.uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return "uid " + std::to_string(peer.uid);
}

StationServer::~StationServer() {
    for (auto& [socket, client] : clients_) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    clients_.clear();
}

QString StationServer::listen(const QString& programDir) {
    const QString path = wire::socketPath(programDir);
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!server_.listen(path))
        return path + QStringLiteral(": ") + server_.errorString();
    // Reading and writing is all a window needs of the socket.
    if (::chmod(QFile::encodeName(path).constData(), 0660) != 0)
        return path + QStringLiteral(": cannot set its mode");
    return {};
}

void StationServer::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        if (clientCount() >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto client = std::make_unique<Client>();
        Client& c = *client;
        c.socket = socket;
        clients_.emplace(socket, std::move(client));
        c.helloTimer.setSingleShot(true);
        connect(&c.helloTimer, &QTimer::timeout, this, [this, &c] { drop(c, "no hello in time"); });
        c.helloTimer.start(kHelloWithinMs);
        c.lineTimer.setSingleShot(true);
        connect(&c.lineTimer, &QTimer::timeout, this, [this, &c] { answerLine(c); });
        connect(socket, &QLocalSocket::readyRead, this, [this, &c] { onReadable(c); });
        connect(socket, &QLocalSocket::disconnected, this, [this, &c] { drop(c, nullptr); });
        send(c, wire::hello());
    }
}

void StationServer::onReadable(Client& c) {
    if (c.doomed)
        return;
    c.decoder.feed(c.socket->readAll());
    while (!c.doomed) {
        const std::optional<QJsonObject> message = c.decoder.next();
        if (!message)
            break;
        handle(c, *message);
    }
    if (c.decoder.error() != wire::Decoder::Error::None)
        drop(c, qPrintable(c.decoder.errorText()));
}

void StationServer::handle(Client& c, const QJsonObject& message) {
    const QString type = message.value(QStringLiteral("type")).toString();
    if (!c.greeted) {
        if (!wire::sameProtocol(message))
            return drop(c, "no hello of this protocol");
        c.greeted = true;
        c.helloTimer.stop();
        // Beats go only while someone listens: a service without windows sleeps between polls.
        if (!beat_.isActive())
            beat_.start();
        return sendState(c);
    }
    if (type == QStringLiteral("line")) {
        // A window asks again once its answer came; one that keeps asking ahead floods.
        if (++c.linesOwed > kMaxLinesOwed)
            return drop(c, "it asks for the line without waiting for the answers");
        // A window asking faster than the pace gets one answer when its time comes.
        if (c.lastLine.isValid() && c.lastLine.elapsed() < kLineEveryMs) {
            if (!c.lineTimer.isActive())
                c.lineTimer.start(static_cast<int>(kLineEveryMs - c.lastLine.elapsed()));
            return;
        }
        return answerLine(c);
    }
    if (type == QStringLiteral("clear-counters"))
        return engine_.clearCounters();
    if (type == QStringLiteral("save-settings")) {
        saving_ = c.socket;
        engine_.saveUser = peerUser(*c.socket);
        engine_.saveSettings(wire::readUpdate(message));
        engine_.saveUser.clear();
        saving_ = nullptr;
        return;
    }
    if (type == QStringLiteral("acknowledge")) {
        engine_.acknowledgeAs(
            message.value(QStringLiteral("meter")).toInt(),
            message.value(QStringLiteral("kind")).toString().left(64).toStdString(),
            peerUser(*c.socket));
        return;
    }
    drop(c, "unknown message");
}

void StationServer::sendState(Client& c) {
    QJsonArray rows, marks;
    for (int n = 1; n <= kMeters; ++n) {
        rows.append(wire::rowJson(engine_.row(n)));
        marks.append(wire::markJson(engine_.mark(n)));
    }
    send(c, {{"type", "state"},
             {"rows", rows},
             {"marks", marks},
             {"message", engine_.message()},
             {"alarms", wire::alarmsJson(engine_.alarms())},
             {"settings", wire::settingsJson(engine_.settingsTexts())}});
}

void StationServer::answerLine(Client& c) {
    if (c.doomed)
        return;
    c.lastLine.start();
    c.linesOwed = 0;
    engine_.readCounts(counts_);
    const FrameRing& ring = engine_.frames();
    // Only the newest frames go when more came than one answer carries.
    const std::uint64_t skip = ring.pushed() > c.framesSeen + kMaxFramesPerAnswer
                                   ? ring.pushed() - kMaxFramesPerAnswer
                                   : c.framesSeen;
    QJsonArray frames;
    c.framesSeen = forEachFreshFrame(
        ring, skip, [&](const MonitorFrame& f) { frames.append(wire::frameJson(f)); });
    send(c, {{"type", "line"}, {"counts", wire::countsJson(counts_)}, {"frames", frames}});
}

void StationServer::send(Client& c, const QJsonObject& message) {
    if (c.doomed)
        return;
    const QByteArray bytes = wire::encode(message);
    if (bytes.isEmpty()) {
        std::fprintf(stderr, "mirv-stationd: a %s message over the bound was not sent\n",
                     qPrintable(message.value(QStringLiteral("type")).toString()));
        return;
    }
    c.socket->write(bytes);
    if (c.socket->bytesToWrite() > kMaxUnsentBytes)
        drop(c, "it does not read what it is sent");
}

void StationServer::drop(Client& c, const char* why) {
    if (c.doomed)
        return;
    c.doomed = true;
    if (why)
        std::fprintf(stderr, "mirv-stationd: a window's connection dropped: %s\n", why);
    if (!sweepQueued_) {
        sweepQueued_ = true;
        QMetaObject::invokeMethod(this, &StationServer::sweep, Qt::QueuedConnection);
    }
}

// Closes the dropped connections, on a later turn of the event loop, so that no handler loses
// its client under it.
void StationServer::sweep() {
    sweepQueued_ = false;
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (!it->second->doomed) {
            ++it;
            continue;
        }
        QLocalSocket* socket = it->first;
        socket->disconnect(this);
        it = clients_.erase(it);
        socket->abort();
        socket->deleteLater();
    }
    if (clients_.empty())
        beat_.stop();
}

} // namespace mirv
