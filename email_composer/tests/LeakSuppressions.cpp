// The sanitizer reads its leak suppressions (system libraries that keep caches until exit) from
// the project's one list even when the test runner does not pass LSAN_OPTIONS along.
extern "C" const char* __lsan_default_options() { return "suppressions=" TVS_LSAN_SUPPRESSIONS; }
