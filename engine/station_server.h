#pragma once

#include <string>

#include "station_engine.h"
#include "wire_frame.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QTimer>
#include <map>
#include <memory>

class QLocalSocket;

namespace mirv {

// The service's door for windows: a local socket in the program folder, owner and group only.
// Each window that says hello gets the whole state, then every change as it comes, the line's
// counters and new frames when it asks, and the answer to its own Save. A window is input from
// outside: one that sends anything but messages, says no hello in time or stops reading is
// dropped, and nothing one does ever waits on it. Every window hears a beat each second, so
// that it can tell a stopped or hung service from a quiet one.
class StationServer : public QObject {
    Q_OBJECT
  public:
    static constexpr int kHelloWithinMs = 5000;
    // Bytes a window may leave unread before it is dropped.
    static constexpr qint64 kMaxUnsentBytes = 4 << 20;
    static constexpr int kMaxClients = 32;
    // A window asking for the line more often gets it at this pace.
    static constexpr int kLineEveryMs = 200;
    // Requests for the line a window may send ahead of their answer.
    static constexpr int kMaxLinesOwed = 8;
    // The newest frames one answer carries at most, so that it stays within a message's bound.
    static constexpr std::size_t kMaxFramesPerAnswer = 1000;

    explicit StationServer(StationEngine& engine, QObject* parent = nullptr);
    ~StationServer() override;

    // Listens on the folder's socket (a file left by a copy that died goes first; the folder
    // lock already keeps a second station out). Returns the failure, empty when it listens.
    QString listen(const QString& programDir);
    int clientCount() const { return static_cast<int>(clients_.size()); }

  private:
    struct Client {
        QLocalSocket* socket = nullptr;
        wire::Decoder decoder;
        bool greeted = false;
        bool doomed = false;
        std::uint64_t framesSeen = 0;
        int linesOwed = 0;
        QTimer helloTimer;
        QTimer lineTimer;
        QElapsedTimer lastLine;
    };

    void accept();
    void onReadable(Client& c);
    void handle(Client& c, const QJsonObject& message);
    void sendState(Client& c);
    static std::string peerUser(const QLocalSocket& socket);
    void answerLine(Client& c);
    void send(Client& c, const QJsonObject& message);
    template <typename Make> void broadcast(const Make& make);
    // Marks it to be closed; `why` goes to standard error when there is one.
    void drop(Client& c, const char* why);
    void sweep();

    StationEngine& engine_;
    QLocalServer server_;
    std::map<QLocalSocket*, std::unique_ptr<Client>> clients_;
    // The window whose Save the engine answers.
    QLocalSocket* saving_ = nullptr;
    bool sweepQueued_ = false;
    LineCounts counts_;
    QTimer beat_;
};

} // namespace mirv
