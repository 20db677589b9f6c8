#include "platform/ui/WindowHost.h"

#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/base/ProcessInfo.h"
#include "platform/base/Saturating.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ui/Tree.h"

namespace platform::ui {
namespace {

// Settles the tree: runs due main-queue work and rebuilds until nothing changes.
void settle(Host& host) {
  int quiet = 0;
  for (int i = 0; i < 200 && quiet < 2; ++i) {
    RunLoop::main().drain();
    quiet = host.update() ? 0 : quiet + 1;
  }
}

std::optional<Size> parseSize(const std::string& text) {
  auto x = text.find('x');
  if (x == std::string::npos) return std::nullopt;
  char* end = nullptr;
  double w = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + x) return std::nullopt;
  const char* hs = text.c_str() + x + 1;
  double h = std::strtod(hs, &end);
  // Asked as "within", not "outside": NaN fails every comparison, and infinities are out of range.
  auto inRange = [](double side) { return side >= 50 && side <= 10000; };
  if (end == hs || *end != '\0' || !inRange(w) || !inRange(h)) return std::nullopt;
  return Size{w, h};
}

// SDL's drivers that show nothing: it falls back to them when no display answers.
bool showsNothing(const std::string& driver) {
  for (const char* name : {"offscreen", "dummy", "evdev"}) {
    if (SDL_strcasecmp(driver.c_str(), name) == 0) return true;
  }
  return false;
}

// Whether SDL_VIDEODRIVER (a comma-separated list) names `driver`: tests and headless runs ask
// for the drivers that show nothing on purpose.
bool askedFor(const std::string& driver) {
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  std::string list = asked ? asked : "";
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = std::min(list.find(',', start), list.size());
    if (SDL_strcasecmp(list.substr(start, end - start).c_str(), driver.c_str()) == 0) return true;
    start = end + 1;
  }
  return false;
}

// With SDL's video initialised: why the driver it took shows nothing, or nullopt when it shows a
// window (or was asked for, when `unlessAskedFor`).
std::optional<std::string> invisibleDriverReason(bool unlessAskedFor) {
  const char* current = SDL_GetCurrentVideoDriver();
  const std::string driver = current ? current : "";
  if (!driver.empty() && !showsNothing(driver)) return std::nullopt;
  if (!driver.empty() && askedFor(driver)) {
    if (unlessAskedFor) return std::nullopt;
    return "SDL_VIDEODRIVER asks for SDL's \"" + driver + "\" driver, which shows nothing";
  }
  return "SDL found no display and fell back to its \"" + driver + "\" driver, which shows nothing";
}

std::optional<EditingKey> editingKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_BACKSPACE:
      return EditingKey::backspace;
    case SDLK_DELETE:
      return EditingKey::deleteForward;
    case SDLK_LEFT:
      return EditingKey::left;
    case SDLK_RIGHT:
      return EditingKey::right;
    case SDLK_HOME:
      return EditingKey::home;
    case SDLK_END:
      return EditingKey::end;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return EditingKey::enter;
    case SDLK_TAB:
      return EditingKey::tab;
    default:
      return std::nullopt;
  }
}

}  // namespace

WindowOptions windowOptionsFromLaunchArguments() {
  auto& info = ProcessInfo::processInfo();
  WindowOptions options;
  if (auto idiom = info.argumentValue("DeviceIdiom"); idiom && *idiom == "pad") {
    options.host.idiom = UserInterfaceIdiom::pad;
    options.host.size = kPadSize;
  }
  if (auto scheme = info.argumentValue("ColorScheme")) {
    if (*scheme == "dark") options.host.colorScheme = ColorScheme::dark;
    if (*scheme == "light") options.host.colorScheme = ColorScheme::light;
  }
  if (auto size = info.argumentValue("WindowSize")) {
    if (auto parsed = parseSize(*size)) options.host.size = *parsed;
  }
  if (auto path = info.argumentValue("snapshot"); path && !path->empty())
    options.snapshotPath = *path;
  return options;
}

std::optional<std::string> displayUnavailableReason() {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return std::string(SDL_GetError());
  auto reason = invisibleDriverReason(/*unlessAskedFor=*/false);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return reason;
}

WindowHost::WindowHost(View root, WindowOptions options, WindowCallbacks callbacks)
    : host_(std::move(root), options.host),
      options_(std::move(options)),
      callbacks_(std::move(callbacks)) {}

WindowHost::~WindowHost() = default;

void WindowHost::stop() { stopped_ = true; }

int WindowHost::run() {
  if (options_.snapshotPath) {
    settle(host_);
    bool ok = host_.snapshot(*options_.snapshotPath);
    if (!ok)
      std::fprintf(stderr, "could not write the snapshot %s\n", options_.snapshotPath->c_str());
    return ok ? 0 : 1;
  }
  std::optional<std::string> noDisplay;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    noDisplay = SDL_GetError();
  } else if ((noDisplay = invisibleDriverReason(/*unlessAskedFor=*/true))) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  if (noDisplay) {
    std::fprintf(stderr, "no display available (%s); run with -snapshot PATH to render headless\n",
                 noDisplay->c_str());
    return 2;
  }
  Size size = host_.size();
  SDL_Window* window =
      SDL_CreateWindow(options_.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                       saturatingCast<int>(size.width), saturatingCast<int>(size.height),
                       SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!window) {
    std::fprintf(stderr, "could not open a window (%s)\n", SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return 2;
  }
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
  if (!renderer) renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  SDL_Texture* texture = nullptr;
  int textureW = 0, textureH = 0;
  bool needsDraw = true;
  host_.setNeedsDisplayHandler([&needsDraw] { needsDraw = true; });
  // Text input runs only while a field has focus, so plain keys stay shortcuts otherwise.
  SDL_StopTextInput();
  host_.setTextInputHandler([](bool editing) {
    if (editing) {
      SDL_StartTextInput();
    } else {
      SDL_StopTextInput();
    }
  });
  bool dragging = false;
  Point mouse;

  auto draw = [&] {
    int pw = 0, ph = 0;
    if (renderer) SDL_GetRendererOutputSize(renderer, &pw, &ph);
    if (pw <= 0 || ph <= 0) return;
    if (!texture || pw != textureW || ph != textureH) {
      if (texture) SDL_DestroyTexture(texture);
      texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                  pw, ph);
      textureW = pw;
      textureH = ph;
    }
    if (!texture) return;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &pixels, &pitch) != 0) return;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        static_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32, pw, ph, pitch);
    cairo_t* cr = cairo_create(surface);
    host_.render(cr, pw / std::max(1.0, host_.size().width));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    SDL_UnlockTexture(texture);
    SDL_RenderClear(renderer);
    SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
    needsDraw = false;
  };

  auto toPoints = [&](int x, int y) {
    int ww = 0, wh = 0;
    SDL_GetWindowSize(window, &ww, &wh);
    Size s = host_.size();
    return Point{ww > 0 ? x * s.width / ww : x, wh > 0 ? y * s.height / wh : y};
  };

  stopped_ = false;
  while (!stopped_) {
    SDL_Event e;
    bool got = SDL_WaitEventTimeout(&e, 8) != 0;
    while (got) {
      switch (e.type) {
        case SDL_QUIT:
          if (callbacks_.onClose) callbacks_.onClose();
          stopped_ = true;
          break;
        case SDL_MOUSEBUTTONDOWN:
          if (e.button.button == SDL_BUTTON_LEFT) {
            dragging = true;
            mouse = toPoints(e.button.x, e.button.y);
            host_.dragBegan(mouse);
          }
          break;
        case SDL_MOUSEMOTION:
          mouse = toPoints(e.motion.x, e.motion.y);
          if (dragging) host_.dragMoved(mouse);
          break;
        case SDL_MOUSEBUTTONUP:
          if (e.button.button == SDL_BUTTON_LEFT && dragging) {
            dragging = false;
            host_.dragEnded(toPoints(e.button.x, e.button.y));
          }
          break;
        case SDL_MOUSEWHEEL: {
          int mx = 0, my = 0;
          SDL_GetMouseState(&mx, &my);
          double sign = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
          host_.scroll(toPoints(mx, my), -e.wheel.x * 40 * sign, -e.wheel.y * 40 * sign);
          break;
        }
        case SDL_TEXTINPUT:
          host_.insertText(e.text.text);
          break;
        case SDL_KEYDOWN:
          if (host_.isEditingText() && editingKey(e.key.keysym.sym)) {
            host_.pressKey(*editingKey(e.key.keysym.sym));
          } else if (e.key.keysym.sym == SDLK_ESCAPE) {
            if (host_.isEditingText()) {
              host_.endEditing();
            } else if (!host_.dismissTopSheet()) {
              host_.closeSwipeActions();
            }
          } else if (e.key.keysym.sym == SDLK_d && (e.key.keysym.mod & KMOD_CTRL)) {
            host_.setColorScheme(host_.colorScheme() == ColorScheme::dark ? ColorScheme::light
                                                                          : ColorScheme::dark);
          } else if (e.key.keysym.sym == SDLK_LEFT && (e.key.keysym.mod & KMOD_ALT)) {
            host_.goBack();
          }
          break;
        case SDL_WINDOWEVENT:
          switch (e.window.event) {
            case SDL_WINDOWEVENT_FOCUS_GAINED:
              if (callbacks_.onFocusChanged) callbacks_.onFocusChanged(true);
              break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
              if (callbacks_.onFocusChanged) callbacks_.onFocusChanged(false);
              break;
            case SDL_WINDOWEVENT_MINIMIZED:
              if (callbacks_.onMinimizedChanged) callbacks_.onMinimizedChanged(true);
              break;
            case SDL_WINDOWEVENT_RESTORED:
              if (callbacks_.onMinimizedChanged) callbacks_.onMinimizedChanged(false);
              needsDraw = true;
              break;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
              host_.setSize(
                  {static_cast<double>(e.window.data1), static_cast<double>(e.window.data2)});
              needsDraw = true;
              break;
            case SDL_WINDOWEVENT_EXPOSED:
              needsDraw = true;
              break;
            case SDL_WINDOWEVENT_CLOSE:
              if (callbacks_.onClose) callbacks_.onClose();
              stopped_ = true;
              break;
            default:
              break;
          }
          break;
        default:
          break;
      }
      got = SDL_PollEvent(&e) != 0;
    }
    RunLoop::main().drain();
    host_.update();
    if (needsDraw) draw();
  }
  host_.setNeedsDisplayHandler(nullptr);
  host_.setTextInputHandler(nullptr);
  SDL_StopTextInput();
  if (texture) SDL_DestroyTexture(texture);
  if (renderer) SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return 0;
}

}  // namespace platform::ui
