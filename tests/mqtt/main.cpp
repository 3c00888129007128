#include <QCoreApplication>
#include <gtest/gtest.h>

// The publisher runs on the event loop of a program without any display.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
