// The process entry: hands control to the app runner for soundboardApp. Without a display (and
// without an explicit "-snapshot PATH") it runs headless, writes a snapshot of the root screen
// and says where. A launch option given without its value ends it at once with a one-line usage
// message and status 2.
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

namespace {

bool hasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  // SDL's offscreen and dummy drivers run without one.
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  return driver && *driver && std::string(driver) != "dummy" && std::string(driver) != "offscreen";
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
