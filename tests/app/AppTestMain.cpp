// GoogleTest entry for the window tests: one QApplication for the whole run,
// on the offscreen platform unless the environment names another, and the
// test data folder of the source tree unless the environment names another
// (a test runner's environment list may carry only the first variable).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("MELODRIFT_TEST_DATA"))
        qputenv("MELODRIFT_TEST_DATA", MELODRIFT_TEST_DATA_DIR);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
