// Hands a URL to the desktop's default handler: `xdg-open <url>` by argv, never through a shell,
// so quotes, semicolons and blanks in the URL reach it as one argument. Thread-safe: the helper
// runs and is waited for on a thread of its own.
#pragma once

#include <functional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

namespace platform::app {

class UrlOpener {
 public:
  // False (no program started) for a string that is not an absolute URL with a scheme; such a
  // string could otherwise be taken by the helper as one of its options. Otherwise starts the
  // helper and calls `completion`, when given, on `queue` (the main queue when null) with
  // whether it exited with success.
  static bool open(const std::string& url, std::function<void(bool)> completion = {},
                   DispatchQueuePtr queue = nullptr);
  // The URL has a scheme (a letter, then letters, digits, "+", "-", ".") and a ":", and holds no
  // control characters.
  static bool isOpenableUrl(const std::string& url);
};

}  // namespace platform::app
