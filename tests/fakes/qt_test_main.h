#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace mirv::test {

// Runs the tests in a QApplication on the offscreen platform with a 1920 x 1080 screen, unless
// a platform was chosen already. GoogleTest's discovery runs this outside ctest, so the
// platform is set here and not only in ctest's environment.
inline int runWidgetTests(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        const QString config =
            QDir::tempPath() +
            QStringLiteral("/mirv-offscreen-%1.json").arg(QCoreApplication::applicationPid());
        QFile f(config);
        if (f.open(QIODevice::WriteOnly))
            f.write(R"({"screens":[{"name":"screen","x":0,"y":0,"width":1920,"height":1080,)"
                    R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
        f.close();
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
        QApplication app(argc, argv);
        QFile::remove(config);
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace mirv::test
