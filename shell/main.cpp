#include "create_database.h"
#include "dialogs.h"
#include "fonts.h"
#include "main_window.h"
#include "quit_on_signal.h"
#include "single_instance.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirv-station"));
    const QString programDir = QCoreApplication::applicationDirPath();

    // A second copy in the same folder ends at once, before it touches the port or the database.
    mirv::SingleInstance instance(programDir);
    if (!instance.acquired())
        return 0;

    mirv::installFontSubstitutions();
    mirv::quitOnTerminationSignals();
    // A database made by an older build gets its indexes now; a failure here is not a start-up
    // failure.
    mirv::upgradeDatabase((programDir + QStringLiteral("/mirv.mdb")).toStdString());

    mirv::QtDialogs dialogs;
    mirv::MainWindow window(programDir, dialogs);
    dialogs.setParent(&window);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &mirv::MainWindow::unload);
    window.startUp();
    window.show();
    return app.exec();
}
