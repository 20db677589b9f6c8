// Time from process start to the first rendered frame of the root screen, headless: the app is
// started with "-snapshot PATH" (build the window content, lay it out, render it once into a
// PNG, exit) in a fresh sandbox home, and the whole process is timed. The app executable is
// found beside this program's build folder (../TVS/TavoVastrowSoundboard) or through
// $TVS_APP_EXECUTABLE. Target: under 150 ms.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::filesystem::path appExecutable() {
  if (const char* configured = std::getenv("TVS_APP_EXECUTABLE")) return configured;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return self.parent_path().parent_path() / "TVS" / "TavoVastrowSoundboard";
}

void BM_AppStartToFirstFrame(benchmark::State& state) {
  const auto app = appExecutable();
  if (!std::filesystem::exists(app)) {
    state.SkipWithError(("app not built: " + app.string()).c_str());
    return;
  }
  char homeTemplate[] = "/tmp/tvs-app-start-XXXXXX";
  const char* home = ::mkdtemp(homeTemplate);
  if (!home) {
    state.SkipWithError("no temporary home");
    return;
  }
  const std::string snapshot = std::string(home) + "/root.png";

  std::vector<std::string> env = {std::string("TVS_HOME=") + home, "SDL_AUDIODRIVER=dummy",
                                  "SDL_VIDEODRIVER=dummy", "ASAN_OPTIONS=detect_leaks=0"};
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    if (entry.rfind("TVS_HOME=", 0) != 0 && entry.rfind("ASAN_OPTIONS=", 0) != 0 &&
        entry.rfind("SDL_", 0) != 0) {
      env.push_back(entry);
    }
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {app.string(), "-snapshot", snapshot};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  for (auto _ : state) {
    pid_t pid = 0;
    if (::posix_spawn(&pid, app.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
      state.SkipWithError("cannot start the app");
      break;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !std::filesystem::exists(snapshot)) {
      state.SkipWithError("the app did not render its root screen");
      break;
    }
    state.PauseTiming();
    std::filesystem::remove(snapshot);
    state.ResumeTiming();
  }
  std::filesystem::remove_all(home);
}
BENCHMARK(BM_AppStartToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
