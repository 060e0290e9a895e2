#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need a QApplication (offscreen: CTest sets QT_QPA_PLATFORM). Defining main here
// keeps the test support library's console main out of these programs.
int main(int argc, char** argv)
{
    // Test discovery runs the program without CTest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
