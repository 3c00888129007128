#include "attached_feed.h"
#include "background_upgrade.h"
#include "dialogs.h"
#include "fonts.h"
#include "main_window.h"
#include "quit_on_signal.h"
#include "single_instance.h"
#include "start_mqtt.h"
#include "station_folder.h"
#include "station_messages.h"
#include "translations.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kUsage = R"(Usage: mirv-station [--help] [--version]

The flow and energy meter station: polls the meters on its serial line as a Modbus-RTU master,
shows their readings live, logs them into its database and lets the operator query, export and
purge that history.

Its program folder is the folder it runs from, or the one named by the first line of the file
station-folder beside it (as installed: /opt/mirv/station): the database mirv.mdb, the rows
waiting for it (mirv.mdb-pending.csv), the report template MirvReport.xls, the lock file and the
serial port links ports/comN are all there. Copy the folder to run another station; the
settings are made on its 系统设置 tab.

When the service mirv-stationd runs in the same folder, the window attaches to it through the
socket mirv-station.sock there instead of polling itself: it shows the service's board, message
line and line diagnostics live, Save on 系统设置 hands the settings to the service, which applies
them at once, and 退出 ends the window only while the service goes on logging. Several windows
may attach at once. Without a service the window polls and logs itself.

Environment:
  DISPLAY, WAYLAND_DISPLAY  the screen to open the window on (one is needed)
  QT_QPA_PLATFORM           Qt's platform: xcb, wayland, or offscreen to run without a screen
  TZ                        the time zone of the history's time stamps (the system's if unset)
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1  offer the window to assistive tools without a desktop
                            that asks for it

Without a screen, run it under Xvfb (xvfb-run mirv-station) or with QT_QPA_PLATFORM=offscreen.
SIGTERM, SIGINT or SIGHUP end it after its usual shutdown.
)";

bool hasArgument(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

int runWindow(const QString& programDir, mirv::QtDialogs& dialogs,
              std::unique_ptr<mirv::StationFeed> attached);

} // namespace

int main(int argc, char** argv) {
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--version")) {
        std::printf("mirv-station %s\n", MIRV_VERSION);
        return 0;
    }
    // Qt would abort on a missing screen with a text about platform plugins.
    if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY") && !isSet("QT_QPA_PLATFORM") &&
        !hasArgument(argc, argv, "-platform")) {
        std::fputs("mirv-station needs a display: none is set (DISPLAY or WAYLAND_DISPLAY); "
                   "to run it without one, use QT_QPA_PLATFORM=offscreen or Xvfb "
                   "(xvfb-run mirv-station).\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirv-station"));
    const QString programDir = QFile::decodeName(mirv::stationFolder().c_str());
    mirv::installChineseStandardButtons(app);
    mirv::quitOnTerminationSignals([] {
        // A modal box runs an event loop of its own: close it, so that no answer is taken
        // from it.
        for (int i = 0; i < 16; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                break;
            if (!modal->close())
                modal->hide();
        }
    });
    mirv::QtDialogs dialogs;

    // A service running in the folder has the engine: the window only shows it.
    auto attached = std::make_unique<mirv::AttachedFeed>(mirv::wire::socketPath(programDir));
    switch (attached->attach(std::chrono::seconds(1))) {
    case mirv::AttachedFeed::Attach::Attached:
        return runWindow(programDir, dialogs, std::move(attached));
    case mirv::AttachedFeed::Attach::OtherVersion:
        dialogs.message(attached->message());
        return 1;
    case mirv::AttachedFeed::Attach::NoService:
        attached.reset();
        break;
    }

    // A second copy in the same folder ends at once, before it touches the port or the
    // database. A folder where the lock cannot even be made is not a second copy.
    mirv::SingleInstance instance(programDir);
    if (instance.outcome() == mirv::SingleInstance::OtherCopyRunning)
        return 0;
    if (instance.outcome() == mirv::SingleInstance::FolderNotWritable) {
        dialogs.message(mirv::folderNotWritableMessage(programDir, instance.failure()));
        return 1;
    }

    // A database made by an older build gets its indexes while the station already runs; a
    // failure there is not a start-up failure.
    mirv::BackgroundUpgrade upgrade((programDir + QStringLiteral("/mirv.mdb")).toStdString());
    return runWindow(programDir, dialogs, nullptr);
}

namespace {

// Shows the window until it ends; without `attached` it runs the engine itself.
int runWindow(const QString& programDir, mirv::QtDialogs& dialogs,
              std::unique_ptr<mirv::StationFeed> attached) {
    mirv::installFontSubstitutions();
    mirv::MainWindow window(programDir, dialogs, std::move(attached));
    dialogs.setParent(&window);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, &mirv::MainWindow::unload);
    window.startUp();
    // A signal that closed start-up's own box ends the program before it shows.
    if (mirv::terminationRequested()) {
        window.unload();
        return 0;
    }
    const auto mqtt = window.engine() ? mirv::startMqtt(*window.engine(), programDir) : nullptr;
    window.show();
    const int status = QApplication::exec();
    // Rows neither the database nor the pending rows file could take are gone: say how many.
    if (!window.engine())
        return status;
    if (const std::uint64_t lost = window.engine()->finish()) {
        std::fprintf(stderr,
                     "mirv-station: %llu history rows lost: neither %s nor %s could be written\n",
                     static_cast<unsigned long long>(lost), qPrintable(window.databasePath()),
                     window.engine()->historyWriter().pendingPath().c_str());
        return 1;
    }
    return status;
}

} // namespace
