#include <QCoreApplication>
#include <gtest/gtest.h>

// The engine runs without any display: its tests have no GUI application either.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
