#pragma once

#include "snapshot_feed.h"
#include "station_engine.h"
#include "web_server.h"

#include <QString>
#include <memory>
#include <optional>

namespace mirv {

// The web pages of a running station: the snapshot the event thread keeps, and the server.
struct WebService {
    WebService(StationEngine& engine, WebServerSetup setup)
        : feed(engine, box), server(box, std::move(setup)) {}
    SnapshotBox box;
    SnapshotFeed feed;
    WebServer server;
};

// Starts serving the engine's pages as web.conf in `programDir` says; nothing without that
// file. Off loopback the pages go over TLS only: without a certificate named, the station
// makes its own at the first start and prints its fingerprint. What goes wrong goes to
// standard error (the log) and, when the message line is empty, onto it.
std::unique_ptr<WebService> startWeb(StationEngine& engine, const QString& programDir);

// `--add-web-user NAME`: reads the password from standard input (without echo on a terminal)
// and stores its hash in the program folder's users file. The exit status when the arguments
// ask for it, nothing when they do not.
std::optional<int> addWebUserCommand(int argc, char** argv, const std::string& programDir);

} // namespace mirv
