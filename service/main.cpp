// The station as a service: the engine alone, without any display. What the window's message
// line would say goes to standard error (the journal); SIGTERM ends it after its usual
// shutdown, with the rows still waiting kept.
#include "background_upgrade.h"
#include "engine_clock_env.h"
#include "quit_on_signal.h"
#include "single_instance.h"
#include "start_mqtt.h"
#include "start_web.h"
#include "station_engine.h"
#include "station_folder.h"
#include "station_notices.h"
#include "station_server.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage = R"(Usage: mirv-stationd [--help] [--version]

The flow and energy meter station as a service: polls the meters on its serial line (or the
gateway its port file names) as a Modbus master and logs their readings into its database,
with no display. A window (mirv-station) started in the same folder attaches to it and shows
its board, its message line and its line diagnostics; settings saved there apply at once.

Its program folder is the folder it runs from, or the one named by the first line of the file
station-folder beside it (as installed: /opt/mirv/station). One station runs per folder: a
second one, service or window, finds the folder's lock taken.

Windows attach through the socket mirv-station.sock in the program folder (owner and group
may use it). What the window's message line would say is written to standard error, one line
per change. With a file mqtt.conf in the folder, it also publishes the meters' readings, their
availability, the journal's events (PREFIX/events, and PREFIX/meter/N/events for a meter's) and
the dashboard's discovery on an MQTT broker; the connection's state goes to standard error too,
and on the message line while the broker cannot be had.
With a file web.conf in the folder, it also serves read-only web pages of the station behind a
login; --add-web-user NAME adds a user (or gives one a new password) read from standard input.
SIGTERM, SIGINT or SIGHUP end it; rows still waiting for the database are kept in the pending
rows file and go in at the next start.
)";

bool hasArgument(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

void say(const QString& text) {
    if (text.isEmpty())
        return;
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(": "));
    std::fprintf(stderr, "mirv-stationd: %s\n", qPrintable(line));
}

} // namespace

int main(int argc, char** argv) {
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--version")) {
        std::printf("mirv-stationd %s\n", MIRV_VERSION);
        return 0;
    }
    if (const auto done = mirv::addWebUserCommand(argc, argv, mirv::stationFolder().string()))
        return *done;
    // Qt's own event loop wakes and dispatches with less work per poll than the GLib one, and
    // the service has no desktop toolkit that would need GLib's.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirv-stationd"));
    const QString programDir = QFile::decodeName(mirv::stationFolder().c_str());
    mirv::quitOnTerminationSignals();

    mirv::SingleInstance instance(programDir);
    if (instance.outcome() == mirv::SingleInstance::OtherCopyRunning) {
        say(QStringLiteral("another station already runs in ") + programDir);
        return 1;
    }
    if (instance.outcome() == mirv::SingleInstance::FolderNotWritable) {
        say(mirv::folderNotWritableMessage(programDir, instance.failure()));
        return 1;
    }
    mirv::BackgroundUpgrade upgrade((programDir + QStringLiteral("/mirv.mdb")).toStdString());

    mirv::StationEngine engine(programDir, mirv::engineClockFromEnvironment());
    engine.applyOnSave = true;
    QObject::connect(&engine, &mirv::StationEngine::messageChanged, &say);
    const mirv::StationNotices notices(engine, programDir);
    say(engine.start());
    // Windows attach through the folder's socket; without it the service still logs.
    mirv::StationServer server(engine);
    say(server.listen(programDir));
    const auto mqtt = mirv::startMqtt(engine, programDir);
    const auto web = mirv::startWeb(engine, programDir);
    const int status = mirv::terminationRequested() ? 0 : app.exec();
    engine.stop();
    if (const std::uint64_t lost = engine.finish()) {
        std::fprintf(stderr,
                     "mirv-stationd: %llu history rows lost: neither %s nor %s could be written\n",
                     static_cast<unsigned long long>(lost), qPrintable(engine.databasePath()),
                     engine.historyWriter().pendingPath().c_str());
        return 1;
    }
    return status;
}
