// The libraries whose process-lifetime caches LeakSanitizer reports, as in scripts/lsan.supp. The
// test environment's LSAN_OPTIONS does not reach every test run, so the test program carries
// the same list itself. Our own code is never listed.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libpango-1.0.so\n"
         "leak:libpangoft2-1.0.so\n"
         "leak:libpangocairo-1.0.so\n"
         "leak:libcairo.so\n"
         "leak:libSDL2-2.0.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n"
         "leak:libharfbuzz.so\n"
         "leak:libfreetype.so\n"
         "leak:libdbus-1.so\n";
}
