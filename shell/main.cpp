#include "background_upgrade.h"
#include "dialogs.h"
#include "fonts.h"
#include "main_window.h"
#include "quit_on_signal.h"
#include "single_instance.h"
#include "translations.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirv-station"));
    const QString programDir = QCoreApplication::applicationDirPath();
    mirv::installChineseStandardButtons(app);
    mirv::quitOnTerminationSignals();
    mirv::QtDialogs dialogs;

    // A second copy in the same folder ends at once, before it touches the port or the
    // database. A folder where the lock cannot even be made is not a second copy.
    mirv::SingleInstance instance(programDir);
    if (instance.outcome() == mirv::SingleInstance::OtherCopyRunning)
        return 0;
    if (instance.outcome() == mirv::SingleInstance::FolderNotWritable) {
        dialogs.message(mirv::folderNotWritableMessage(programDir, instance.failure()));
        return 1;
    }

    mirv::installFontSubstitutions();
    // A database made by an older build gets its indexes while the station already runs; a
    // failure there is not a start-up failure.
    mirv::BackgroundUpgrade upgrade((programDir + QStringLiteral("/mirv.mdb")).toStdString());

    mirv::MainWindow window(programDir, dialogs);
    dialogs.setParent(&window);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &mirv::MainWindow::unload);
    window.startUp();
    // A signal that closed start-up's own box ends the program before it shows.
    if (mirv::terminationRequested()) {
        window.unload();
        return 0;
    }
    window.show();
    const int status = app.exec();
    // Rows neither the database nor the pending rows file could take are gone: say how many.
    if (const std::uint64_t lost = window.historyWriter->finish()) {
        std::fprintf(stderr,
                     "mirv-station: %llu history rows lost: neither %s nor %s could be written\n",
                     static_cast<unsigned long long>(lost), qPrintable(window.databasePath()),
                     window.historyWriter->pendingPath().c_str());
        return 1;
    }
    return status;
}
