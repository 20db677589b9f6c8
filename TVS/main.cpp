// The process entry: hands control to the app runner for soundboardApp. Without a display that
// opens (and without an explicit "-snapshot PATH") it runs headless, writes a snapshot of the
// root screen and says where. A launch option given without its value ends it at once with a
// one-line usage message and status 2.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TVS/soundboardApp.h"
#include "platform/app/AppRunner.h"
#include "platform/app/LaunchArguments.h"
#include "platform/base/Files.h"
#include "platform/base/ProcessInfo.h"
#include "platform/ui/WindowHost.h"

namespace {

// The display the environment names ("DISPLAY=:0", say), or empty when it names none.
std::string namedDisplay() {
  // SDL's offscreen and dummy drivers, asked for, show nothing whatever display is named.
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (driver && (std::string(driver) == "dummy" || std::string(driver) == "offscreen")) return "";
  std::string named;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) {
    const char* value = std::getenv(name);
    if (value && *value) named += (named.empty() ? "" : ", ") + std::string(name) + "=" + value;
  }
  return named;
}

// Whether a window can be shown. A display that is named but cannot be opened is said to be so:
// SDL would fall back to drawing nowhere, and the app would run unseen.
bool hasDisplay() {
  const std::string named = namedDisplay();
  if (named.empty()) return false;
  if (auto reason = platform::ui::displayUnavailableReason()) {
    std::fprintf(stderr, "The display could not be opened (%s: %s)\n", named.c_str(),
                 reason->c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  // An option without its value stops here: a "-snapshot" alone would otherwise open a window
  // nobody may see, and "-snapshot -ColorScheme dark" name the picture after the next option.
  if (auto error = platform::app::launchArgumentsError(arguments)) {
    std::fprintf(stderr, "%s\n", error->c_str());
    return 2;
  }
  const bool snapshotAsked =
      platform::ProcessInfo::argumentValueIn(arguments, "snapshot").has_value();

  std::optional<std::filesystem::path> headlessSnapshot;
  if (!snapshotAsked && !hasDisplay()) {
    std::filesystem::path dir = platform::SandboxHome::tmp();
    platform::files::createDirectory(dir, /*intermediates=*/true);
    headlessSnapshot = dir / "TavoVastrowSoundboard-root-screen.png";
    arguments.push_back("-snapshot");
    arguments.push_back(headlessSnapshot->string());
  }

  std::vector<char*> argvOut;
  for (auto& argument : arguments) argvOut.push_back(argument.data());
  argvOut.push_back(nullptr);
  const int status =
      platform::app::runApp<soundboardApp>(static_cast<int>(arguments.size()), argvOut.data());
  if (headlessSnapshot) {
    if (status == 0) {
      std::printf("No display: wrote a snapshot of the root screen to %s\n",
                  headlessSnapshot->c_str());
    } else {
      std::fprintf(stderr, "No display, and the snapshot could not be written to %s\n",
                   headlessSnapshot->c_str());
    }
  }
  return status;
}
