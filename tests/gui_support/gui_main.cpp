// Entry point of the window tests: one QApplication for the whole program (the offscreen platform
// is chosen by the test's environment), then every GoogleTest case.
#include <QApplication>
#include <gtest/gtest.h>

#include "interactive/preview_window.h"

int main(int argc, char** argv) {
    // ctest lists the cases by running the program without the test's environment: without a
    // display that must not abort in QApplication.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qm::PrepareBrowserEngine();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
