// Entry point of the window tests: one QApplication for the whole program (the offscreen platform
// is chosen by the test's environment), then every GoogleTest case.
#include <QApplication>
#include <gtest/gtest.h>

#include "interactive/preview_window.h"

// Sanitizer builds: any window test may start the browser engine (for the preview). The engine's
// own code, not built with the sanitizer, frees objects with a sized delete of a base class and
// keeps process-long allocations until exit (some through fontconfig and udev, with stacks too
// short to show the engine). Both are reported from inside those libraries only; they are silenced
// here (beside main, so that every window test program links them) so that findings in our code
// still fail the run. Unused in other builds.
extern "C" {

__attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

__attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n"
           "leak:libudev.so\n";
}

}

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
