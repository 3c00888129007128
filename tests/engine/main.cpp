#include <QCoreApplication>
#include <gtest/gtest.h>

// The engine runs without any display: its sockets and timers want an application object, and
// not a GUI one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
