#include <QCoreApplication>
#include <gtest/gtest.h>

// The sockets and timers of the engine want an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
