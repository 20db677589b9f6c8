// Leaks that system libraries keep until exit (the same names as scripts/lsan.supp), built into
// this test program so that they hold however the tests are started. Our own code is never
// listed here.
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
