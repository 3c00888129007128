#pragma once

#include "login_limit.h"
#include "station_snapshot.h"
#include "web_sessions.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace mirv {

struct WebServerSetup {
    std::string listen = "127.0.0.1";
    int port = 8080; // 0: any free port
    // Both set: HTTPS with this certificate and key (PEM files); both empty: plain HTTP.
    std::string certificate;
    std::string key;
    std::string usersPath;
    std::string databasePath;
};

// The pages and their API over HTTP(S), read-only, behind a login, on threads of their own
// (at a lower priority than the station's) that read only `box` and the database. Stopping
// closes `box`, which ends the pages' event streams.
class WebServer {
  public:
    WebServer(SnapshotBox& box, WebServerSetup setup);
    ~WebServer(); // stops serving and waits for the threads
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds the address and starts serving; why not, when it cannot.
    std::optional<std::string> start();
    int port() const { return port_; }
    // Ends the event streams and the server; the destructor calls it too.
    void stop();

  private:
    struct Page {
        std::string type;
        std::string bytes;
    };
    void route();
    bool tls() const { return !setup_.certificate.empty(); }

    SnapshotBox& box_;
    WebServerSetup setup_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::map<std::string, Page> pages_;
    LoginLimit limit_;
    WebSessions sessions_;
    std::mutex loginMutex_;
    std::mutex databaseMutex_;
    std::atomic<int> streams_{0};
    std::atomic<bool> stopping_{false};
};

} // namespace mirv
