// Points LeakSanitizer at the project's suppressions file (system libraries only) when the test
// runner's environment does not. Called while the sanitizers start, so it is not instrumented and
// calls nothing.
namespace {
constexpr char kFile[] = __FILE__;
constexpr char kTail[] = "/platform/app/tests/LeakSuppressions.cpp";
constexpr char kPrefix[] = "suppressions=";
constexpr char kSuffix[] = "/scripts/lsan.supp";
char options[sizeof kPrefix + sizeof kFile + sizeof kSuffix];
}  // namespace

extern "C" __attribute__((no_sanitize("address", "undefined"), visibility("default"))) const char*
__lsan_default_options() {
  if (options[0] == '\0') {
    const unsigned long rootLength = (sizeof kFile - 1) - (sizeof kTail - 1);
    unsigned long n = 0;
    for (unsigned long i = 0; i + 1 < sizeof kPrefix; ++i) options[n++] = kPrefix[i];
    for (unsigned long i = 0; i < rootLength; ++i) options[n++] = kFile[i];
    for (unsigned long i = 0; i < sizeof kSuffix; ++i) options[n++] = kSuffix[i];
  }
  return options;
}
