// Sanitizer builds of the window tests that start the browser engine: the engine's own code (not
// built with the sanitizer) frees objects with a sized delete of a base class and keeps
// process-long allocations until exit (some through fontconfig, with stacks too short to show the
// engine). Both are reported from inside those libraries only; they are silenced here so that
// findings in our code still fail the run. Unused in other builds.
extern "C" {

__attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "new_delete_type_mismatch=0";
}

__attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n";
}

}
